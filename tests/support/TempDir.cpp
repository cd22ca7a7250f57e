#include "tests/support/TempDir.hpp"

#include <cerrno>
#include <signal.h>
#include <stdexcept>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::set<std::string> namesIn(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

int exitUnderFileSizeLimit(std::uintmax_t limitBytes, const std::function<void()>& write) {
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(limitBytes), rlim_t(limitBytes)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            write();
            ::_exit(1);
        } catch (const std::filesystem::filesystem_error& e) {
            ::_exit(e.code().value() == EFBIG ? 0 : 2);
        } catch (...) {
            ::_exit(3);
        }
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace nuvel::test
