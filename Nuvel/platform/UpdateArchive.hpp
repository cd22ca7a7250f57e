#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace nuvel::UpdateArchive {

// What one update may unpack to at most: the bytes of its files together, its entries, and the
// length of one entry's name (and of each step in it).
inline constexpr std::int64_t maximumUnpackedBytes = std::int64_t(512) << 20;
inline constexpr std::size_t maximumEntries = 65536;
inline constexpr std::size_t maximumNameBytes = 1024;
inline constexpr std::size_t maximumStepBytes = 255;

// Unpacks a tar archive (plain, gzip or xz) into `destination`, which must not exist yet and
// is created 0755. Only folders, regular files and symbolic links whose targets stay inside
// the archive are taken; an absolute name, a ".." step, a hard link, a device, a link that
// leads out or a chain of links that does, an archive larger than the limits above, and a
// damaged archive refuse the whole archive with UpdateError::archiveUnsafe (what was unpacked
// so far stays for the caller to remove). Set-user-id, set-group-id and sticky bits and writing
// by the group or others are dropped.
void unpack(const std::filesystem::path& archive, const std::filesystem::path& destination);

// What unpacks an update: `unpack` itself where libarchive is linked, the archive module's in the
// program.
using Unpack = void (*)(const std::filesystem::path& archive, const std::filesystem::path& destination);

} // namespace nuvel::UpdateArchive
