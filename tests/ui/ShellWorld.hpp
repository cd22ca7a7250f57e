#pragma once

// The shell's model (ShellModelWorld) with the alerts played by a fake: what the windows' tests
// drive.

#include "Nuvel/ui/common/Dialogs.hpp"
#include "tests/model/shell/ShellModelWorld.hpp"
#include "tests/ui/UiTestSupport.hpp"

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nuvel::test {

// Answers every alert from a script (the first button when the script is empty) and keeps
// what was asked.
class ScriptedDialogs final : public Dialogs {
public:
    AlertAnswer runModal(const Alert& alert) override {
        asked.push_back(alert);
        if (onAlert)
            onAlert(alert);
        if (answers.empty())
            return AlertAnswer{0, alert.checked};
        AlertAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::filesystem::path> runOpenPanel(const OpenPanel& panel) override {
        panels.push_back(panel);
        if (onOpenPanel)
            onOpenPanel();
        if (files.empty())
            return std::nullopt;
        auto file = files.front();
        files.pop_front();
        return file;
    }
    std::optional<std::filesystem::path> runSavePanel(const SavePanel& panel) override {
        savePanels.push_back(panel);
        if (saveFiles.empty())
            return std::nullopt;
        auto file = saveFiles.front();
        saveFiles.pop_front();
        return file;
    }
    void showAbout() override { ++abouts; }

    std::deque<AlertAnswer> answers;
    std::deque<std::optional<std::filesystem::path>> saveFiles; // the save panel's answers; empty: cancelled
    std::vector<SavePanel> savePanels;
    std::deque<std::optional<std::filesystem::path>> files; // the open panel's answers; empty: cancelled
    std::vector<OpenPanel> panels;
    std::function<void()> onOpenPanel;
    std::vector<Alert> asked;
    std::function<void(const Alert&)> onAlert;
    int abouts = 0;
};

// The shell's model with the alerts answered from a script.
struct ShellWorld : ShellModelWorld {
    explicit ShellWorld(bool signedIn = true, const std::string& email = "ada@example.com")
        : ShellModelWorld(signedIn, email) {
        application();
    }

    ScriptedDialogs dialogs;
};

} // namespace nuvel::test
