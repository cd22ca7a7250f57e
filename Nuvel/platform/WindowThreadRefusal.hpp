#pragma once

#include <thread>

namespace nuvel {

// Debug builds: blocking work that slipped onto the application's window thread (a wait for the
// sound server, a scan of the processes) aborts at once with a message naming the call. The
// application names its window thread at start-up; an empty id lifts the refusal. Release
// builds ignore both.
void refuseBlockingWorkOn(std::thread::id thread);

// Aborts, in a debug build on the refusing thread, with "nuvel: <what> would <doing> on the main
// thread".
void checkBlockingWorkAllowed(const char* what, const char* doing);

} // namespace nuvel
