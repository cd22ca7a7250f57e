#include "Nuvel/model/ModelContext.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/support/Crypto.hpp"
#include "NuvelKit/support/Files.hpp"

#include <limits>
#include <stdexcept>

namespace nuvel {

namespace {

AppModelDependencies checked(AppModelDependencies d) {
    if (!d.mainQueue)
        throw std::invalid_argument("AppModel needs a main queue");
    if (!d.actorExecutor)
        throw std::invalid_argument("AppModel needs an actor executor");
    if (!d.keyring)
        throw std::invalid_argument("AppModel needs a keyring");
    if (!d.api)
        throw std::invalid_argument("AppModel needs the service client");
    if (!d.cloud)
        throw std::invalid_argument("AppModel needs the cloud meeting model");
    if (!d.openStore)
        throw std::invalid_argument("AppModel needs a store factory");
    d.mainQueue->requireCurrent("AppModel::make");

    if (!d.freeSpace)
        d.freeSpace = [](const std::filesystem::path& path) -> std::optional<std::int64_t> {
            auto read = [&path] { return files::availableCapacity(path); };
            Outcome<std::uint64_t> bytes = attemptNow(read);
            if (!bytes.ok()) {
                bytes.drop("reading the free space");
                return std::nullopt;
            }
            constexpr auto largest = std::uint64_t(std::numeric_limits<std::int64_t>::max());
            return std::int64_t(bytes.value() > largest ? largest : bytes.value());
        };
    if (!d.preferredLanguage)
        d.preferredLanguage = [] { return std::optional<std::string>(); };
    if (!d.timeZone)
        d.timeZone = [] { return systemTimeZoneName(); };
    if (!d.deviceName)
        d.deviceName = [] { return std::optional<std::string>(); };
    if (!d.localize)
        d.localize = [](std::string_view text) { return std::string(text); };
    if (!d.now)
        d.now = [] { return Date::now(); };
    if (!d.continuousNow)
        d.continuousNow = [] { return continuousTimeSeconds(); };
    if (!d.randomFill)
        d.randomFill = [](std::uint8_t* out, std::size_t count) { fillRandom(out, count); };
    return d;
}

} // namespace

ModelContext::ModelContext(AppModelDependencies dependencies)
    : deps(checked(std::move(dependencies))), cloud(std::move(deps.cloud)),
      vault(keychainService, deps.keyring), tasks(*deps.mainQueue) {}

void ModelContext::setObservers(std::function<void()> changed, std::function<void()> ticked) {
    changed_ = std::move(changed);
    ticked_ = std::move(ticked);
}

void ModelContext::notifyChange() const {
    if (changed_)
        changed_();
}

void ModelContext::notifyTick() const {
    if (ticked_)
        ticked_();
}

void ModelContext::setMessage(StatusText text) {
    writeMessage(text);
    notifyChange();
}

void ModelContext::setMessageAbout(StatusText text, std::optional<Uuid> recording) {
    writeMessageAbout(text, recording);
    notifyChange();
}

} // namespace nuvel
