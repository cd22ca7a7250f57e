#pragma once

#include "NuvelKit/support/Defaults.hpp"

namespace nuvel {

// The defaults as the windows and the model write them: from menu actions, toggles, timers and
// the quit path, where an error has nowhere to go but out through the window system's event
// loop, which would end the program. A write the store refuses (a full or read-only disk) keeps
// the new value in memory for this run and is dropped with the model's trace; no sentence is
// owed for a preference.
class NonThrowingDefaultsStore final : public DefaultsStore {
public:
    // `stored` keeps a refused write's value in memory (as FileDefaultsStore does).
    explicit NonThrowingDefaultsStore(DefaultsStore& stored) : stored_(stored) {}

    std::optional<json::Value> value(const std::string& key) const override;
    void set(const std::string& key, json::Value value) override;
    void remove(const std::string& key) override;

private:
    DefaultsStore& stored_;
};

} // namespace nuvel
