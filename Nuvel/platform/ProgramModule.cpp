#include "Nuvel/platform/ProgramModule.hpp"

#include <dlfcn.h>
#include <filesystem>
#include <system_error>

namespace nuvel {

ProgramModuleEntry loadProgramModule(const char* module, const char* entry) {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {nullptr, "the program's own folder is unknown: " + error.message()};
    const std::filesystem::path file = program.parent_path() / module;
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        return {nullptr, "cannot load " + file.string() + ": " + (why ? why : "unknown reason")};
    }
    void* symbol = ::dlsym(handle, entry);
    if (symbol == nullptr)
        return {nullptr, file.string() + " is not the module of this program"};
    return {symbol, {}};
}

} // namespace nuvel
