// The one symbol of the archive module (nuvel-archive.so), resolved when the program first
// unpacks an update; libarchive comes in with it.
#include "Nuvel/platform/ArchiveModule.hpp"
#include "Nuvel/platform/UpdateArchive.hpp"

extern "C" __attribute__((visibility("default"))) nuvel::UpdateArchive::Unpack
nuvel_update_unpack(int interfaceVersion) {
    if (interfaceVersion != nuvel::archiveModuleInterface)
        return nullptr;
    return &nuvel::UpdateArchive::unpack;
}
