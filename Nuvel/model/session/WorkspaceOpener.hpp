#pragma once

#include "Nuvel/model/ModelContext.hpp"
#include "Nuvel/model/annotations/AnnotationSync.hpp"
#include "Nuvel/model/localaudio/LocalPlayback.hpp"
#include "Nuvel/model/upload/UploadQueue.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// The account's folder and media key, and the workspace stores inside it: which folder a
// workspace's store lives in, opening it with its recovery scan and putting the result into the
// model in one step; and switching to another workspace of the account.
class WorkspaceOpener {
public:
    // The account folder and the account's media key.
    struct AccountFolder {
        std::filesystem::path folder;
        SymmetricKey key;
    };

    WorkspaceOpener(ModelContext& context, UploadQueue& upload, AnnotationSync& annotations,
                    LocalPlayback& playback)
        : ctx_(context), upload_(upload), annotations_(annotations), playback_(playback) {}

    // "<dataRoot>/Nuvel/production/<hex SHA-256 of the account id>" and the account's media key.
    // A missing key is made anew only while nothing sealed with the old one exists there:
    // otherwise the keyring's not-found error stands and no file is touched. Blocks: executor only.
    static AccountFolder workspacesRoot(const std::filesystem::path& dataRoot, const KeychainVault& vault,
                                        const std::string& accountID);
    // 64 lower-case hexadecimal digits of the SHA-256 of `text`.
    static std::string hexDigest(std::string_view text);

    // Opens the contract's workspace store ("personal" without a contract or for a personal
    // workspace), runs its recovery scan, configures or resets the cloud library, then takes the
    // session, contract, store and recordings in one step: the open account's earlier work ends,
    // the first recording is selected and the upload queue and notepad syncs start. An error
    // leaves the model as it was (the cloud library excepted) and is thrown.
    Task<void> openWorkspace(DeviceSession session, std::optional<NativeBootstrap> contract,
                             std::optional<Date> offlineUntil);

    // The library's workspace picker, after its checks: holds the model busy while the chosen
    // workspace's contract is fetched and checked, kept in the discovery cache and its store
    // opened. A switch that fails says so and keeps the open workspace.
    void selectWorkspace(std::string workspaceID);

private:
    Task<void> switchWorkspace(ModelContext::Hold hold, DeviceSession session, std::string workspaceID);
    Task<void> openChosenWorkspace(DeviceSession session, std::string workspaceID);

    ModelContext& ctx_;
    UploadQueue& upload_;
    AnnotationSync& annotations_;
    LocalPlayback& playback_;
};

} // namespace nuvel
