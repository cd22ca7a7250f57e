#include "Nuvel/platform/ProcessLiveness.hpp"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <unistd.h>

namespace nuvel::ProcessLiveness {

std::optional<std::uint64_t> parseStartTime(std::string_view stat) {
    // "pid (comm) state ppid ...": the command ends at the last parenthesis.
    auto close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = stat.substr(close + 1);
    // Fields after the command, from field 3 (state) on; the start time is field 22.
    std::string_view fields[20];
    std::size_t count = 0;
    std::size_t at = 0;
    while (count < 20) {
        while (at < rest.size() && (rest[at] == ' ' || rest[at] == '\n'))
            ++at;
        if (at >= rest.size())
            break;
        std::size_t end = rest.find_first_of(" \n", at);
        if (end == std::string_view::npos)
            end = rest.size();
        fields[count++] = rest.substr(at, end - at);
        at = end;
    }
    if (count < 20)
        return std::nullopt;
    std::string_view state = fields[0];
    if (state == "Z" || state == "X" || state == "x")
        return std::nullopt;
    std::uint64_t start = 0;
    std::string_view text = fields[19];
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), start);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return start;
}

std::optional<std::uint64_t> startTime(std::int32_t processID) {
    if (processID <= 0)
        return std::nullopt;
    // Read with plain calls: a process that ends between the open and the read makes the read
    // fail with ESRCH, which an input stream's buffer reports by throwing.
    const std::string path = "/proc/" + std::to_string(processID) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char chunk[512];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ::close(fd);
            if (got < 0)
                return std::nullopt;
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return parseStartTime(text);
}

bool isRunning(std::int32_t processID, std::uint64_t expectedStart) {
    if (processID <= 0)
        return false;
    if (kill(processID, 0) != 0 && errno != EPERM)
        return false;
    auto start = startTime(processID);
    return start && *start == expectedStart;
}

} // namespace nuvel::ProcessLiveness
