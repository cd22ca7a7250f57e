#pragma once

#include <filesystem>

namespace nuvel::UpdateArchive {

// Unpacks a tar archive (plain, gzip or xz) into `destination`, which must not exist yet and
// is created 0755. Only folders, regular files and symbolic links whose targets stay inside
// the archive are taken; an absolute name, a ".." step, a hard link, a device or a link that
// leads out refuses the whole archive with UpdateError::archiveUnsafe (what was unpacked so far
// stays for the caller to remove). Permission bits above 0777 are dropped.
void unpack(const std::filesystem::path& archive, const std::filesystem::path& destination);

} // namespace nuvel::UpdateArchive
