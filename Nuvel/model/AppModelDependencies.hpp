#pragma once

#include "Nuvel/model/AudioPlayer.hpp"
#include "Nuvel/model/CaptureSource.hpp"
#include "Nuvel/model/CloudMeetingModel.hpp"
#include "Nuvel/model/MediaAssembler.hpp"
#include "Nuvel/model/SystemServices.hpp"
#include "Nuvel/model/WorkspaceStore.hpp"
#include "NuvelKit/service/NuvelAPI.hpp"
#include "NuvelKit/service/PKCEAttempt.hpp"
#include "NuvelKit/store/SecretBackend.hpp"
#include "NuvelKit/support/Executor.hpp"
#include "NuvelKit/support/MainQueue.hpp"
#include "NuvelKit/support/Task.hpp"
#include "NuvelKit/support/Time.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// Everything the application model reaches outside itself. The application fills it with the
// platform layers; model tests with fakes, a manual main queue and an inline executor.
//
// Required: `mainQueue`, `actorExecutor`, `keyring`, `api`, `cloud` and `openStore`. A missing
// service pointer means the service is missing (no network reports, no sleep or device notices,
// no keep-awake activity, no browser); a missing function takes the default named beside it.
struct AppModelDependencies {
    // The main actor; it and the executor outlive the model.
    MainQueue* mainQueue = nullptr;
    // Where the blocking actor operations run: store, keyring, service, discovery cache, media.
    Executor* actorExecutor = nullptr;

    // The keyring under the model's KeychainVault.
    std::shared_ptr<SecretBackend> keyring;
    // The device and upload API.
    std::shared_ptr<NuvelAPI> api;
    // The cloud meeting library, over its own meeting client.
    std::unique_ptr<CloudMeetingModel> cloud;
    // Opens the recording store of a workspace folder.
    WorkspaceStoreFactory openStore;

    // Builds capture sources for new recordings. Without it no recording can start. Its start
    // must leave the main queue free: the sound server's blocking work runs on an executor.
    std::shared_ptr<CaptureFactory> capture;
    // Asks for the microphone; true when it may be used. Default: granted (the sound server
    // lets every application record).
    std::function<Task<bool>()> requestMicrophoneAccess;
    // Composition, digests, parts and import conversion.
    std::shared_ptr<MediaAssembler> media;
    // Local playback. Without it nothing can be played. Called on the actor executor, like every
    // operation of the players it makes.
    AudioPlayerFactory makePlayer;

    std::shared_ptr<NetworkMonitor> network;
    std::shared_ptr<SleepNotices> sleepNotices;
    std::shared_ptr<DeviceRemovalNotices> deviceRemovals;
    std::shared_ptr<KeepAwake> keepAwake;
    std::shared_ptr<Browser> browser;
    // The service's web origin (scheme, host, port): the device sign-in page lives there.
    std::string webOrigin;

    // Free bytes on the volume of a path, absent when unknown; called on the actor executor.
    // Default: the volume's own figure.
    std::function<std::optional<std::int64_t>(const std::filesystem::path&)> freeSpace;
    // The first preferred interface language ("ar", "en-US"), absent when none. Default: none.
    std::function<std::optional<std::string>()> preferredLanguage;
    // The system's time-zone identifier. Default: systemTimeZoneName.
    std::function<std::string()> timeZone;
    // This machine's name for people, absent when it has none. Default: none.
    std::function<std::optional<std::string>()> deviceName;
    // The translation of a status sentence. Default: the sentence itself.
    std::function<std::string(std::string_view)> localize;

    // The folder that holds "Nuvel/production" ($XDG_DATA_HOME).
    std::filesystem::path dataRoot;
    // The wall clock. Default: Date::now.
    std::function<Date()> now;
    // Seconds on a clock that keeps counting while the computer sleeps: the waits measured in
    // real time (retries, heartbeats, the notes' save delay) count on it. Default:
    // continuousTimeSeconds.
    std::function<double()> continuousNow;
    // Secure random bytes (the sign-in verifier). Default: the system generator.
    PKCEAttempt::RandomFill randomFill;
};

} // namespace nuvel
