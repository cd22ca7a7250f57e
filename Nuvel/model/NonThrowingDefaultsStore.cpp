#include "Nuvel/model/NonThrowingDefaultsStore.hpp"

#include "Nuvel/model/Outcome.hpp"

namespace nuvel {

std::optional<json::Value> NonThrowingDefaultsStore::value(const std::string& key) const {
    return stored_.value(key);
}

void NonThrowingDefaultsStore::set(const std::string& key, json::Value value) {
    attemptNow([&] { stored_.set(key, std::move(value)); }).drop("saving a preference");
}

void NonThrowingDefaultsStore::remove(const std::string& key) {
    attemptNow([&] { stored_.remove(key); }).drop("removing a preference");
}

} // namespace nuvel
