#pragma once

#include <filesystem>

namespace nuvel {

// Launch at login as an XDG autostart entry: "nuvel.desktop" in the autostart folder. Present
// and not hidden means enabled; "Hidden=true" (the desktop's way to switch an entry off) or no
// file means off.
class LoginItem {
public:
    // The values the settings window tells apart.
    enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };
    static constexpr const char* entryName = "nuvel.desktop";

    LoginItem(std::filesystem::path autostartFolder, std::filesystem::path program);
    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
    static std::filesystem::path standardFolder();

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path entry() const { return folder_ / entryName; }

    // notFound when off and the program to start is not an executable file.
    Status status() const;
    // Writes the entry atomically (the folder is made when missing). Throws
    // std::filesystem::filesystem_error, also when the program is not an executable file.
    void registerItem();
    // Removes the entry; no entry is no failure. Throws std::filesystem::filesystem_error.
    void unregisterItem();

    // The Exec= value for a program path: quoted and escaped as desktop entries require.
    static std::string execValue(const std::filesystem::path& program);

private:
    std::filesystem::path folder_;
    std::filesystem::path program_;
};

} // namespace nuvel
