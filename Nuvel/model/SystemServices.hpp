#pragma once

#include <functional>
#include <memory>
#include <string>

namespace nuvel {

// The services of the desktop that the application model listens to or asks for. Each may be
// missing on a given system; the platform layers then give a default that does nothing.

// Whether the network can be reached.
class NetworkMonitor {
public:
    virtual ~NetworkMonitor() = default;
    // Starts reporting; `pathChanged` may run on any thread, with true when the network is usable.
    virtual void start(std::function<void(bool satisfied)> pathChanged) = 0;
    // Once it returns, no report follows.
    virtual void stop() = 0;
};

// The notice that the system is about to sleep.
class SleepNotices {
public:
    virtual ~SleepNotices() = default;
    // `willSleep` may run on any thread. The system holds off sleeping (for a short, bounded
    // time) until `ready` is called, from any thread; calling it again does nothing.
    virtual void start(std::function<void(std::function<void()> ready)> willSleep) = 0;
    virtual void stop() = 0;
};

// The notice that an audio input device went away.
class DeviceRemovalNotices {
public:
    virtual ~DeviceRemovalNotices() = default;
    // `removed` may run on any thread.
    virtual void start(std::function<void()> removed) = 0;
    virtual void stop() = 0;
};

// An activity that keeps the system awake; it ends when destroyed.
class KeepAwakeActivity {
public:
    virtual ~KeepAwakeActivity() = default;
};

class KeepAwake {
public:
    virtual ~KeepAwake() = default;
    // Keeps the system from sleeping until the returned activity is destroyed; `reason` is
    // shown to the user by the system. Never fails: without the service the activity does
    // nothing.
    virtual std::unique_ptr<KeepAwakeActivity> begin(const std::string& reason) = 0;
};

// The user's web browser.
class Browser {
public:
    virtual ~Browser() = default;
    // Whether the browser took the address.
    virtual bool open(const std::string& url) = 0;
};

} // namespace nuvel
