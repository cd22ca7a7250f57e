#pragma once

#include <functional>
#include <string_view>

namespace nuvel {

// The entry rule of the shell's classes: every method the window system calls (menu and
// button actions, the status item, the single-instance channel) first checks that it runs on
// the GUI thread, the main actor. Off it, the unexpected-executor report is made, naming the
// source file and the line of the check, and the body then runs all the same.
//
//   void AppDelegate::showLibrary() {
//       NUVEL_MAIN_ACTOR_ENTRY();
//       ...
#define NUVEL_MAIN_ACTOR_ENTRY() ::nuvel::enterMainActor(__FILE__, __LINE__)

void enterMainActor(const char* file, int line);

// Where the report goes: by default one line on standard error. Tests put a recorder here; an
// empty function restores the default.
using UnexpectedExecutorReport = std::function<void(std::string_view file, int line)>;
void setUnexpectedExecutorReport(UnexpectedExecutorReport report);

} // namespace nuvel
