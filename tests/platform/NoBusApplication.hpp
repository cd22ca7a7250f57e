#pragma once

#include <QCoreApplication>
#include <cstdlib>

namespace nuvel::test {

// Points the system and session bus addresses nowhere; a base, so it runs before the
// application is made.
struct BusesPointedNowhere {
    BusesPointedNowhere() {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus", 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/session_bus", 1);
    }
};

// A Qt application that reaches no bus. Qt keeps its bus connections for the life of a process,
// so a test of the "no bus" case makes this first, in a program of its own.
class NoBusApplication : private BusesPointedNowhere {
public:
    NoBusApplication() = default;
    NoBusApplication(const NoBusApplication&) = delete;
    NoBusApplication& operator=(const NoBusApplication&) = delete;

private:
    int argc_ = 1;
    char name_[6] = "tests";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
};

} // namespace nuvel::test
