#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace nuvel {

// Whether a process still runs, told apart from a later process that reuses its id: a process
// is identified by its id and its start time (field 22 of /proc/<pid>/stat, in clock ticks
// since boot).
namespace ProcessLiveness {

// The start time of a running process; none when there is no such process or it has ended
// (a zombie or a dead task).
std::optional<std::uint64_t> startTime(std::int32_t processID);

// The process exists (kill(pid, 0)), has not ended, and started at `startTime`.
bool isRunning(std::int32_t processID, std::uint64_t startTime);

// Parses the text of /proc/<pid>/stat: the start time, or none for a text that is not one or
// a process that has ended. The command name may hold spaces and parentheses.
std::optional<std::uint64_t> parseStartTime(std::string_view stat);

} // namespace ProcessLiveness

} // namespace nuvel
