#pragma once

// Fakes for the new-recording sheet's surroundings (the sound server's lists and checks, the
// capture permissions) and a way to reach the controls of an alert's accessory view.

#include "Nuvel/platform/CapturePermission.hpp"
#include "Nuvel/ui/library/LibraryController.hpp"
#include "Nuvel/ui/sheets/RecordingSources.hpp"
#include "tests/ui/ShellWorld.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QWidget>
#include <stdexcept>
#include <string>
#include <vector>

namespace nuvel::test {

class FakeRecordingSources final : public RecordingSources {
public:
    std::vector<MicrophoneChoice> inputDevices() override {
        ++deviceListings;
        if (devicesFail)
            throw std::runtime_error("no sound server");
        return devices;
    }
    Task<std::vector<ApplicationChoice>> availableApplications() override { return list(this); }
    SourceChecks checks() override {
        SourceChecks checks;
        FakeRecordingSources* self = this;
        checks.microphone = [self](std::optional<std::uint32_t> device, std::weak_ptr<SourceCheckMeters>) {
            return check(self, std::nullopt, device);
        };
        checks.system = [self](SystemAudioSelection selection, bool, std::optional<std::uint32_t> device,
                               std::weak_ptr<SourceCheckMeters>) { return check(self, selection, device); };
        return checks;
    }

    std::vector<MicrophoneChoice> devices;
    bool devicesFail = false;
    std::vector<ApplicationChoice> applications;
    bool listFails = false;
    int deviceListings = 0;
    int applicationListings = 0;
    // Every check run: the source (none for the microphone alone) and the device.
    std::vector<std::pair<std::optional<SystemAudioSelection>, std::optional<std::uint32_t>>> checked;

private:
    static Task<std::vector<ApplicationChoice>> list(FakeRecordingSources* self) {
        ++self->applicationListings;
        if (self->listFails)
            throw std::runtime_error("cannot list");
        co_return self->applications;
    }
    static Task<void> check(FakeRecordingSources* self, std::optional<SystemAudioSelection> source,
                            std::optional<std::uint32_t> device) {
        self->checked.emplace_back(source, device);
        co_return;
    }
};

class FakeCapturePermission final : public CapturePermission {
public:
    bool preflightScreenCapture() override {
        asked.push_back("preflight");
        return preflight;
    }
    bool requestScreenCapture() override {
        asked.push_back("request");
        return request;
    }
    Task<bool> requestMicrophoneAccess() override { return answer(this); }

    bool preflight = true;
    bool request = true;
    bool microphone = true;
    std::vector<std::string> asked;

private:
    static Task<bool> answer(FakeCapturePermission* self) {
        self->asked.push_back("microphone");
        co_return self->microphone;
    }
};

// The controls of the sheet's (or the chooser's) accessory view, by their names.
struct SheetControls {
    QComboBox* mode = nullptr;
    QComboBox* microphone = nullptr;
    QLineEdit* title = nullptr;
    QCheckBox* attendees = nullptr;
    QCheckBox* aiNotes = nullptr;
    QCheckBox* consent = nullptr;
    QComboBox* application = nullptr;

    explicit SheetControls(QWidget* accessory) {
        if (accessory == nullptr)
            return;
        auto find = [accessory]<class T>(T*& slot, const char* name) {
            slot = accessory->objectName() == QLatin1String(name)
                       ? qobject_cast<T*>(accessory)
                       : accessory->findChild<T*>(QLatin1String(name));
        };
        find(mode, "new-recording-mode");
        find(microphone, "new-recording-microphone");
        find(title, "new-recording-title");
        find(attendees, "new-recording-attendees");
        find(aiNotes, "new-recording-ai-notes");
        find(consent, "new-recording-consent");
        find(application, "new-recording-application");
    }
};

// The library window's pieces over a shell world, with the sheet's surroundings faked.
struct SheetWorld {
    FakeRecordingSources sources;
    FakeCapturePermission permission;

    LibraryController::Dependencies dependencies(ShellWorld& world) {
        LibraryController::Dependencies d;
        d.queue = &world.queue;
        d.executor = &world.executor;
        d.dialogs = &world.dialogs;
        d.defaults = &world.defaults;
        d.sources = &sources;
        d.permission = &permission;
        return d;
    }
};

} // namespace nuvel::test
