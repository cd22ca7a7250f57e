#pragma once

#include "NuvelKit/support/Defaults.hpp"

namespace nuvel {

// The capture settings in the user defaults: "capture.aiNotesDefault", a boolean; absent (or
// not a boolean) reads as off. Every read goes to the store.
class CapturePreferences {
public:
    static constexpr const char* aiNotesDefaultKey = "capture.aiNotesDefault";

    explicit CapturePreferences(DefaultsStore& defaults) : defaults_(defaults) {}

    bool aiNotesDefault() const { return defaults_.boolean(aiNotesDefaultKey).value_or(false); }
    void setAINotesDefault(bool on) { defaults_.set(aiNotesDefaultKey, on); }

private:
    DefaultsStore& defaults_;
};

} // namespace nuvel
