#include "tests/support/TempDir.hpp"

#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>

namespace nuvel::test {

TempDir::TempDir(const std::string& label) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("nuvel-" + label + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec))
            ::chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(path_, ec);
}

} // namespace nuvel::test
