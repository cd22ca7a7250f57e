#pragma once

#include <string>

namespace nuvel {

// A shared library of the program's own, installed beside the executable: features whose
// libraries are large (FFmpeg's codecs, the calendar server's client, the keyring's) live in
// such modules and are loaded the first time they are used, so a program that never uses
// them never maps them.
struct ProgramModuleEntry {
    void* symbol = nullptr; // the entry point; null when the module could not be loaded
    std::string failure;    // why not, for the error the feature reports
};

// Loads `module` from the executable's folder (never unloaded: what it hands out lives as
// long as the program) and resolves `entry` in it.
ProgramModuleEntry loadProgramModule(const char* module, const char* entry);

} // namespace nuvel
