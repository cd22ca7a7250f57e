// Feeds the updater's archive reader (plain, gzip or xz tar). Whatever the bytes, it ends in
// an UpdateError or an unpacked tree; nothing is written beside the unpacking folder; in an
// accepted tree every link, followed through every link on its way, ends inside it, and no
// file or folder is set-user-id, set-group-id or writable by the group or others.
//
//   build/fuzz/fuzz/fuzz_UpdateArchiveFuzz -max_total_time=600 <work-corpus> fuzz/corpus/UpdateArchiveFuzz
#include "Nuvel/platform/UpdateArchive.hpp"
#include "Nuvel/platform/UpdateFeed.hpp"
#include "fuzz/FuzzSupport.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

const fs::path& workFolder() {
    static const fs::path folder = [] {
        std::string name = (fs::temp_directory_path() / "nuvel-archive-fuzz-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr)
            std::abort();
        // Removed at exit through a copy of its name: the static path is gone by then.
        static const std::string removedAtExit = name;
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(removedAtExit, ignored);
        });
        return fs::path(name);
    }();
    return folder;
}

void checkTree(const fs::path& out, std::string_view input) {
    const fs::path top = fs::canonical(out);
    for (auto it = fs::recursive_directory_iterator(top); it != fs::recursive_directory_iterator(); ++it) {
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0)
            nuvel::fuzz::finding("an unpacked entry vanished", input);
        if (S_ISLNK(info.st_mode)) {
            std::error_code error;
            const fs::path relative = fs::weakly_canonical(it->path(), error).lexically_relative(top);
            if (error || relative.empty() || *relative.begin() == "..")
                nuvel::fuzz::finding("an accepted link leads out", input);
        } else if ((info.st_mode & (S_ISUID | S_ISGID | S_IWGRP | S_IWOTH)) != 0) {
            nuvel::fuzz::finding("an accepted entry keeps a mode it must not", input);
        } else if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
            nuvel::fuzz::finding("an accepted entry is not a file, folder or link", input);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const fs::path& work = workFolder();
    const fs::path archive = work / "in";
    const fs::path out = work / "out";
    std::ofstream(archive, std::ios::binary).write(input.data(), std::streamsize(input.size()));
    bool accepted = false;
    try {
        nuvel::UpdateArchive::unpack(archive, out);
        accepted = true;
    } catch (const nuvel::UpdateError&) {
    } catch (const std::exception& error) {
        nuvel::fuzz::finding("an error other than UpdateError", error.what());
    }
    if (accepted)
        checkTree(out, input);
    std::size_t beside = 0;
    for (const auto& entry : fs::directory_iterator(work))
        beside += entry.path() != archive && entry.path() != out;
    if (beside != 0)
        nuvel::fuzz::finding("something was written beside the unpacking folder", input);
    fs::remove_all(out);
    return 0;
}
