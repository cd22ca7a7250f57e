#include "Nuvel/platform/ArchiveModule.hpp"

#include "Nuvel/platform/ProgramModule.hpp"
#include "Nuvel/platform/UpdateArchive.hpp"
#include "Nuvel/platform/UpdateFeed.hpp"

#include <mutex>
#include <string>

namespace nuvel {

namespace {

using UpdateArchive::Unpack;

struct Loaded {
    Unpack unpack = nullptr;
    std::string failure;
};

Loaded load() {
    ProgramModuleEntry entry = loadProgramModule("nuvel-archive.so", "nuvel_update_unpack");
    if (entry.symbol == nullptr)
        return {nullptr, entry.failure};
    Unpack unpack = reinterpret_cast<Unpack (*)(int)>(entry.symbol)(archiveModuleInterface);
    if (unpack == nullptr)
        return {nullptr, "nuvel-archive.so belongs to another build of the program"};
    return {unpack, {}};
}

} // namespace

void unpackWithArchiveModule(const std::filesystem::path& archive, const std::filesystem::path& destination) {
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] { loaded = load(); });
    if (loaded.unpack == nullptr)
        throw UpdateError(UpdateError::Code::install, "update archives: " + loaded.failure);
    loaded.unpack(archive, destination);
}

} // namespace nuvel
