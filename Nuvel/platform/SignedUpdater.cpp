#include "Nuvel/platform/SignedUpdater.hpp"

#include "NuvelKit/support/Ed25519.hpp"
#include "NuvelKit/support/Files.hpp"

namespace nuvel {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maxFeedBytes = 1 << 20;

HttpRequest get(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.idleTimeoutSeconds = 30;
    return request;
}

} // namespace

SignedUpdater::SignedUpdater(Dependencies dependencies, UpdaterDelegate& delegate)
    : d_(std::move(dependencies)), delegate_(delegate),
      installer_(std::make_shared<UpdateInstaller>(d_.installedTree, d_.unpack)) {}

SignedUpdater::~SignedUpdater() {
    *alive_ = false;
}

template <class Work, class Then> void SignedUpdater::offMain(Work work, Then then) {
    std::weak_ptr<bool> alive = alive_;
    MainQueue* queue = d_.queue;
    d_.executor->execute([alive, queue, work = std::move(work), then = std::move(then)]() mutable {
        auto result = work();
        queue->post([alive, then = std::move(then), result = std::move(result)]() mutable {
            if (auto flag = alive.lock(); flag && *flag)
                then(std::move(result));
        });
    });
}

void SignedUpdater::checkForUpdates() {
    d_.queue->requireCurrent("SignedUpdater::checkForUpdates");
    if (!canCheckForUpdates())
        return;
    cycle_ = true;
    if (std::optional<std::string> refusal = delegate_.mayPerformUpdateCheck()) {
        finish(refusal);
        return;
    }
    Dependencies d = d_;
    offMain([d] { return fetchFeed(d); }, [this](Found result) { found(std::move(result)); });
}

SignedUpdater::Found SignedUpdater::fetchFeed(const Dependencies& d) {
    Found result;
    try {
        HttpRequest request = get(d.feedURL);
        request.maxBodyBytes = maxFeedBytes;
        const HttpResponse response = d.transport->send(request, {});
        if (response.status != 200 || response.bodyTooLarge)
            throw UpdateError(UpdateError::Code::feedUnreadable,
                              "feed answered " + std::to_string(response.status));
        result.item = UpdateFeed::newest(UpdateFeed::open(response.body, d.publicKey), d.currentVersion);
    } catch (const std::exception& error) {
        result.error = error.what();
    }
    return result;
}

void SignedUpdater::found(Found result) {
    if (result.error || !result.item) {
        finish(result.error);
        return;
    }
    const UpdateItem item = *result.item;
    if (!d_.confirmInstall || !d_.confirmInstall(item)) {
        finish(std::nullopt);
        return;
    }
    if (std::optional<std::string> refusal = delegate_.shouldProceedWithUpdate(item)) {
        finish(refusal);
        return;
    }
    Dependencies d = d_;
    std::shared_ptr<UpdateInstaller> installer = installer_;
    offMain([d, item, installer] { return download(d, item, *installer); },
            [this](std::optional<std::string> error) { staged(error); });
}

std::optional<std::string> SignedUpdater::download(const Dependencies& d, const UpdateItem& item,
                                                   UpdateInstaller& installer) {
    try {
        const fs::path staging = installer.beginStaging();
        const fs::path archive = staging / "update.tar";
        {
            files::FileDescriptor file = files::createExclusive(archive, 0600);
            HttpRequest request = get(item.url);
            request.maxBodyBytes = item.length + 1;
            request.bodySink = [&file, &archive](ByteView bytes) { file.writeAll(bytes, archive); };
            const HttpResponse response = d.transport->send(request, {});
            if (response.status != 200 || response.bodyTooLarge)
                throw UpdateError(UpdateError::Code::download,
                                  "archive answered " + std::to_string(response.status));
            file.close();
        }
        // Nothing of the archive is read as an archive before its signature holds.
        const Bytes bytes = files::readFile(archive);
        if (bytes.size() != item.length)
            throw UpdateError(UpdateError::Code::download, "the archive's length differs from the feed's");
        if (!ed25519::verify(d.publicKey, bytes, item.signature))
            throw UpdateError(UpdateError::Code::archiveSignature, "the archive's signature does not hold");
        installer.stage(archive);
        fs::remove(archive);
        return std::nullopt;
    } catch (const std::exception& error) {
        installer.discard();
        return std::string(error.what());
    }
}

void SignedUpdater::staged(const std::optional<std::string>& error) {
    if (error) {
        finish(error);
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    std::shared_ptr<UpdateInstaller> installer = installer_;
    std::function<bool(const fs::path&)> relaunch = d_.relaunch;
    Executor* executor = d_.executor;
    std::function<bool()> block = [alive, installer, relaunch, executor]() -> bool {
        if (auto flag = alive.lock(); !flag || !*flag)
            return false;
        try {
            const UpdateInstaller::Installed installed = installer->install();
            // The old build is a whole program folder: removed off the window thread, and done
            // before this process ends (the pool finishes its queue), so before the relaunch.
            executor->execute([leftover = installed.leftover] { UpdateInstaller::removeLeftover(leftover); });
            return relaunch && relaunch(installed.program);
        } catch (const UpdateError&) {
            return false;
        }
    };
    if (delegate_.shouldPostponeRelaunch(block)) {
        finish(std::nullopt);
        return;
    }
    if (!block()) {
        finish(std::string("the update could not be installed and relaunched"));
        return;
    }
    finish(std::nullopt);
}

void SignedUpdater::finish(const std::optional<std::string>& error) {
    cycle_ = false;
    delegate_.didFinishUpdateCycle(error);
}

} // namespace nuvel
