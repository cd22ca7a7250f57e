#include "NuvelKit/store/StoreFiles.hpp"

#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"

#include <limits>

namespace nuvel {

void createExcludedDirectory(const std::filesystem::path& directory) {
    files::createOwnerOnlyDirectories(directory);
    // Recordings and caches are kept out of backups where the system has a per-folder flag for
    // it. Linux desktops have no common flag (each backup tool keeps its own exclude list), so
    // nothing is marked here; the folder's mode keeps it private all the same.
}

std::string sha256OfFile(const std::filesystem::path& file) {
    static constexpr std::size_t blockSize = 1 << 20;
    files::FileDescriptor input = files::openForReading(file);
    Sha256 digest;
    Bytes block(blockSize);
    while (std::size_t got = input.readUpTo(block.data(), block.size(), file))
        digest.update(ByteView(block.data(), got));
    return hexString(digest.finalize());
}

std::optional<std::int64_t> volumeAvailableCapacity(const std::filesystem::path& path) {
    const std::uint64_t bytes = files::availableCapacity(path);
    constexpr auto largest = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    return std::int64_t(bytes > largest ? largest : bytes);
}

} // namespace nuvel
