#pragma once

#include <filesystem>

namespace nuvel {

// UpdateArchive::unpack from the archive module beside the executable (nuvel-archive.so,
// libarchive and its compression libraries), loaded the first time an update is unpacked. A
// module that is missing or does not fit throws UpdateError::install, which names it.
void unpackWithArchiveModule(const std::filesystem::path& archive, const std::filesystem::path& destination);

// Raised whenever UpdateArchive::unpack's signature or errors change, so a module of another build
// is refused.
inline constexpr int archiveModuleInterface = 1;

} // namespace nuvel
