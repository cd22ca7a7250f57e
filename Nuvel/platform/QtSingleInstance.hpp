#pragma once

#include "NuvelKit/support/Files.hpp"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace nuvel {

// One Nuvel per user. The first process listens on a local socket that only its user can
// reach; a later launch hands it one line ("reopen", or "open <url>") and exits.
//
// The socket lives in $XDG_RUNTIME_DIR, else in a folder of the user's own home that only this
// user can enter (~/.local/state/nuvel, the socket named for the machine): never in a shared
// folder, where another user could take the name first. A path too long for a socket's address
// (a deep home) is reached through a descriptor on its folder. A socket left behind by a process
// that died is taken over. Two launches at the same moment settle who listens under a lock file beside
// the socket; a launch that cannot hold the lock does not run.
class QtSingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,   // this process listens: it is the running Nuvel
        forwarded, // the running Nuvel took the message: this process is done
        failed,    // neither: no usable folder, or the running one does not answer
    };

    // The longest message taken; longer ones are dropped.
    static constexpr qsizetype maximumMessageBytes = 8192;

    // `socketPath` empty: the user's default place.
    explicit QtSingleInstance(QString socketPath = {});
    ~QtSingleInstance() override;

    // Empty when there is neither a runtime folder nor a home folder.
    static QString defaultSocketPath();
    const QString& socketPath() const { return path_; }

    // Becomes the running instance, or forwards `message` to it. Blocks for at most a few
    // seconds while the running one answers. Needs a QCoreApplication.
    Role claim(const QString& message);
    // Why claim failed, for the user.
    const QString& failure() const { return failure_; }

    // Each message from a later launch, on the GUI thread.
    std::function<void(const QString& message)> onMessage;

private:
    bool forward(const QString& message);
    void accept();
    void read(QLocalSocket* socket);

    QString path_;
    QString failure_;
    // The socket's folder while the server listens through it (a path too long to name directly).
    files::FileDescriptor folder_;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace nuvel
