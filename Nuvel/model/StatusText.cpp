#include "Nuvel/model/StatusText.hpp"

#include <array>

namespace nuvel {

namespace {
constexpr std::array<std::string_view, 25> sentences = {
    "Personal workspace",
    "Sign-in could not finish. Please try again.",
    "Sign-out could not finish. Please try again.",
    "Signed out on this Mac. Revoke this device on the website when you are online.",
    "Your saved recordings could not be unlocked. The files have been preserved.",
    "Some saved recordings need recovery. Their files have been preserved.",
    "This workspace could not be opened. Your recordings remain in their original workspace.",
    "Microphone access is off. Enable Nuvel in System Settings, or import a recording.",
    "Recording could not start. Any saved audio has been preserved.",
    "The workspace recording limit was reached. Your audio is being saved.",
    "One minute remains before this workspace's recording limit. Your audio will be saved automatically.",
    "The microphone stopped. Your saved audio is safe; resume explicitly when ready.",
    "Recording was interrupted. Your saved audio is safe.",
    "Saved on this Mac. Send to Nuvel when you are ready.",
    "Some audio needs recovery. Saved segments have been preserved.",
    "Recording stopped before sleep. Resume with a new recording when ready.",
    "An audio device disconnected. Saved audio is safe. Check your microphone before recording again.",
    "Your note could not be saved. Please try again.",
    "This file could not be decoded. Try an audio export such as M4A or WAV.",
    "Audio exported. Private notes were not included.",
    "Audio could not be exported. Your saved segments are still on this Mac.",
    "Audio could not be played. Your saved segments are still on this Mac.",
    "Local copy removed. This does not delete a meeting on Nuvel.",
    "The local copy could not be removed. Please try again.",
    "This workspace does not currently allow uploads. Your recording remains saved on this Mac.",
};
static_assert(sentences.size() == std::size_t(StatusText::uploadsNotAllowed) + 1, "one sentence per case");
} // namespace

std::string_view sentence(StatusText text) {
    return sentences[std::size_t(text)];
}

std::span<const std::string_view> allStatusSentences() {
    return sentences;
}

} // namespace nuvel
