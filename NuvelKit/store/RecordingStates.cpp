#include "NuvelKit/store/RecordingStates.hpp"

#include <array>
#include <utility>

namespace nuvel {
namespace {

constexpr std::array<std::pair<CaptureState, std::string_view>, 5> captureNames{{
    {CaptureState::recording, "recording"},
    {CaptureState::paused, "paused"},
    {CaptureState::interrupted, "interrupted"},
    {CaptureState::finalizing, "finalizing"},
    {CaptureState::saved, "saved"},
}};

constexpr std::array<std::pair<TransferState, std::string_view>, 7> transferNames{{
    {TransferState::local, "local"},
    {TransferState::creating, "creating"},
    {TransferState::uploading, "uploading"},
    {TransferState::committing, "committing"},
    {TransferState::accepted, "accepted"},
    {TransferState::needsReview, "needsReview"},
    {TransferState::failed, "failed"},
}};

template <class State, std::size_t N>
std::string_view nameOf(const std::array<std::pair<State, std::string_view>, N>& names, State state) {
    for (const auto& [s, name] : names)
        if (s == state)
            return name;
    return {};
}

template <class State, std::size_t N>
std::optional<State> stateOf(const std::array<std::pair<State, std::string_view>, N>& names,
                             std::string_view raw) {
    for (const auto& [s, name] : names)
        if (name == raw)
            return s;
    return std::nullopt;
}

} // namespace

std::string_view rawValue(CaptureState state) noexcept {
    return nameOf(captureNames, state);
}
std::string_view rawValue(TransferState state) noexcept {
    return nameOf(transferNames, state);
}

std::optional<CaptureState> captureStateFromRawValue(std::string_view raw) noexcept {
    return stateOf(captureNames, raw);
}
std::optional<TransferState> transferStateFromRawValue(std::string_view raw) noexcept {
    return stateOf(transferNames, raw);
}

} // namespace nuvel
