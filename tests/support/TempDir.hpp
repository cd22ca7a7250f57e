#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

namespace nuvel::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& label = "test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// The names of what `folder` holds, not looking inside its folders.
std::set<std::string> namesIn(const std::filesystem::path& folder);

// Runs `write` in a child process whose files may grow to `limitBytes` at most, so its writes fail
// part way (EFBIG) as on a full disk (ENOSPC). How it ended: 0 when `write` threw the file
// system's EFBIG error, 1 when it did not throw, 2 on another file system error, 3 on any other
// exception, -1 when the child did not end normally.
int exitUnderFileSizeLimit(std::uintmax_t limitBytes, const std::function<void()>& write);

} // namespace nuvel::test
