#pragma once

// A private session bus for one test program, on which the calendar server (Evolution Data
// Server) starts on demand in the program's own temporary home: its calendar sources are written
// before the source registry first starts, settings stay in memory and there is no display. The
// calendar services inherit this environment from the bus and end with it.
//
// Also a bus without the calendar server (no activatable services at all), and calendar writes
// through the server's own client library, to set up and change events.

#include "Nuvel/platform/GlibWorker.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <libecal/libecal.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace nuvel::test {

inline std::filesystem::path configHome() {
    return std::getenv("XDG_CONFIG_HOME");
}

inline void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// A dbus-daemon of our own; its address becomes this process's session bus.
class PrivateBus {
public:
    // `configFile`: none for the standard session configuration (with its activatable services).
    explicit PrivateBus(const std::string& configFile = {}) {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        setenv("GSETTINGS_BACKEND", "memory", 1);
        int out[2];
        if (::pipe(out) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // The read end first: it may itself be descriptor 3.
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_adddup2(&actions, out[1], 3);
        const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        posix_spawn_file_actions_adddup2(&actions, quiet, 2);
        std::string config = configFile.empty() ? "--session" : "--config-file=" + configFile;
        std::vector<char*> argv = {const_cast<char*>("dbus-daemon"), config.data(),
                                   const_cast<char*>("--nofork"), const_cast<char*>("--print-address=3"),
                                   nullptr};
        const int spawned = posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(quiet);
        if (spawned != 0) {
            ::close(out[0]);
            throw std::runtime_error("dbus-daemon did not start");
        }
        std::string address;
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            address.push_back(c);
        ::close(out[0]);
        if (address.empty())
            throw std::runtime_error("dbus-daemon gave no address");
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    ~PrivateBus() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

private:
    pid_t pid_ = -1;
};

// A bus configuration with no activatable services: nothing answers for the calendar.
inline std::string emptyBusConfig(const std::filesystem::path& folder) {
    const auto file = folder / "bus.conf";
    writeFile(file, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                    "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                    "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
                    "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    return file.string();
}

// The sources the registry reads at its start: one local calendar "nuvel-test", the user's
// mail identity, and the birthday calendar turned off (it would start the address book too).
inline void writeCalendarSources(const std::string& ownAddress) {
    const auto sources = configHome() / "evolution" / "sources";
    writeFile(sources / "nuvel-test.source", "[Data Source]\nDisplayName=Nuvel test\nEnabled=true\n"
                                             "Parent=local-stub\n\n[Calendar]\nBackendName=local\n");
    writeFile(sources / "nuvel-identity.source",
              "[Data Source]\nDisplayName=Me\nEnabled=true\n\n[Mail Identity]\nAddress=" + ownAddress +
                  "\nName=Me\n");
    writeFile(sources / "birthdays.source", "[Data Source]\nDisplayName=Birthdays\nEnabled=false\n"
                                            "Parent=contacts-stub\n\n[Calendar]\nBackendName=contacts\n");
}

// Writes to the test calendar through the server's client library. Its GLib objects live on a
// worker that keeps running their main context: the server's clients wait for each other's
// source registries, so an idle context here would hold up every connect in the process.
class TestCalendar {
public:
    TestCalendar() {
        worker_.call([this] {
            e_source_registry_new(
                nullptr,
                [](GObject*, GAsyncResult* result, gpointer data) {
                    auto* self = static_cast<TestCalendar*>(data);
                    self->registry_ = e_source_registry_new_finish(result, nullptr);
                    self->done_ = true;
                },
                this);
            worker_.iterateUntil([this] { return done_; });
            if (registry_ == nullptr)
                throw std::runtime_error("no source registry");
            ESource* source = e_source_registry_ref_source(registry_, "nuvel-test");
            if (source == nullptr)
                throw std::runtime_error("no test calendar");
            done_ = false;
            e_cal_client_connect(
                source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, 10, nullptr,
                [](GObject*, GAsyncResult* result, gpointer data) {
                    auto* self = static_cast<TestCalendar*>(data);
                    EClient* client = e_cal_client_connect_finish(result, nullptr);
                    self->client_ = client != nullptr ? E_CAL_CLIENT(client) : nullptr;
                    self->done_ = true;
                },
                this);
            worker_.iterateUntil([this] { return done_; });
            g_object_unref(source);
            if (client_ == nullptr)
                throw std::runtime_error("the test calendar did not connect");
        });
    }
    ~TestCalendar() {
        worker_.stop([this] {
            if (client_ != nullptr)
                g_object_unref(client_);
            if (registry_ != nullptr)
                g_object_unref(registry_);
        });
    }
    TestCalendar(const TestCalendar&) = delete;
    TestCalendar& operator=(const TestCalendar&) = delete;

    // Adds an event given as iCalendar text (one VEVENT); returns its UID.
    std::string add(const std::string& vevent) {
        return worker_.call([&] {
            ICalComponent* component = i_cal_component_new_from_string(vevent.c_str());
            if (component == nullptr)
                throw std::runtime_error("not a VEVENT: " + vevent);
            gchar* uid = nullptr;
            GError* error = nullptr;
            const bool ok = e_cal_client_create_object_sync(client_, component, E_CAL_OPERATION_FLAG_NONE,
                                                            &uid, nullptr, &error);
            g_object_unref(component);
            if (!ok)
                throw std::runtime_error(error ? error->message : "create failed");
            std::string result = uid;
            g_free(uid);
            return result;
        });
    }

    // Moves an event (all its occurrences) to start at `start` (seconds since 1970, UTC) with
    // the same length.
    void move(const std::string& uid, time_t start) {
        worker_.call([&] {
            ICalComponent* component = nullptr;
            GError* error = nullptr;
            if (!e_cal_client_get_object_sync(client_, uid.c_str(), nullptr, &component, nullptr, &error))
                throw std::runtime_error(error ? error->message : "no such event");
            ICalTime* oldStart = i_cal_component_get_dtstart(component);
            ICalTime* oldEnd = i_cal_component_get_dtend(component);
            const time_t length = i_cal_time_as_timet_with_zone(oldEnd, i_cal_time_get_timezone(oldEnd)) -
                                  i_cal_time_as_timet_with_zone(oldStart, i_cal_time_get_timezone(oldStart));
            g_object_unref(oldStart);
            g_object_unref(oldEnd);
            ICalTimezone* utc = i_cal_timezone_get_utc_timezone();
            ICalTime* newStart = i_cal_time_new_from_timet_with_zone(start, FALSE, utc);
            ICalTime* newEnd = i_cal_time_new_from_timet_with_zone(start + length, FALSE, utc);
            i_cal_component_set_dtstart(component, newStart);
            i_cal_component_set_dtend(component, newEnd);
            g_object_unref(newStart);
            g_object_unref(newEnd);
            const bool ok = e_cal_client_modify_object_sync(client_, component, E_CAL_OBJ_MOD_ALL,
                                                            E_CAL_OPERATION_FLAG_NONE, nullptr, &error);
            g_object_unref(component);
            if (!ok)
                throw std::runtime_error(error ? error->message : "modify failed");
        });
    }

private:
    GlibWorker worker_;
    ESourceRegistry* registry_ = nullptr;
    ECalClient* client_ = nullptr;
    bool done_ = false;
};

// "20261209T101500Z" for a time in seconds since 1970.
inline std::string icalUtc(time_t t) {
    char text[32];
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
    return text;
}

} // namespace nuvel::test
