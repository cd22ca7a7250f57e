#include "Nuvel/platform/QtSingleInstance.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace nuvel {

namespace {

constexpr int connectMilliseconds = 2000;
constexpr int answerMilliseconds = 3000;
constexpr int lockMilliseconds = 5000;
constexpr int clientMilliseconds = 5000;

// A folder only this user can enter: ours, a real folder (not a link), no access for others.
bool isOwnerOnlyFolder(const QByteArray& path) {
    struct stat info {};
    if (lstat(path.constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

// Holds an exclusive lock on a file for as long as it lives.
class LockFile {
public:
    explicit LockFile(const QString& path) {
        fd_ = open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0)
            return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(lockMilliseconds);
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
                close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        locked_ = true;
    }
    ~LockFile() {
        if (fd_ >= 0)
            close(fd_); // releases the lock
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;
    bool locked() const { return locked_; }

private:
    int fd_ = -1;
    bool locked_ = false;
};

enum class Delivery { delivered, nobody, noAnswer };

Delivery deliver(const QString& path, const QString& message) {
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(connectMilliseconds)) {
        const auto error = socket.error();
        if (error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError)
            return Delivery::nobody;
        return Delivery::noAnswer;
    }
    socket.write(message.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(answerMilliseconds))
        return Delivery::noAnswer;
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!socket.waitForReadyRead(answerMilliseconds))
            return Delivery::noAnswer;
        answer += socket.readAll();
    }
    return answer.startsWith("ok\n") ? Delivery::delivered : Delivery::noAnswer;
}

} // namespace

QtSingleInstance::QtSingleInstance(QString socketPath)
    : path_(socketPath.isEmpty() ? defaultSocketPath() : std::move(socketPath)) {}

QtSingleInstance::~QtSingleInstance() {
    if (server_)
        server_->close(); // removes the socket file
}

QString QtSingleInstance::defaultSocketPath() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && isOwnerOnlyFolder(runtime))
        return QFile::decodeName(runtime) + QStringLiteral("/nuvel-instance");
    // The temporary folder is everyone's: another user may have made any name there first. A
    // name that is not a folder of ours alone is passed over for the next one, and every launch
    // walks the same names, so this user's launches all meet in the first one that is ours.
    const QString base = QDir::tempPath() + QStringLiteral("/nuvel-") + QString::number(geteuid());
    for (int attempt = 0; attempt < fallbackFolders; ++attempt) {
        const QString folder = attempt == 0 ? base : base + QLatin1Char('-') + QString::number(attempt);
        const QByteArray encoded = QFile::encodeName(folder);
        mkdir(encoded.constData(), 0700); // made now, or there already: what counts is what it is
        if (isOwnerOnlyFolder(encoded))
            return folder + QStringLiteral("/instance");
    }
    return {};
}

QtSingleInstance::Role QtSingleInstance::claim(const QString& message) {
    if (path_.isEmpty()) {
        failure_ = QStringLiteral("no folder under ") + QDir::tempPath() +
                   QStringLiteral(" is this user's alone, and no runtime folder is set (XDG_RUNTIME_DIR)");
        return Role::failed;
    }
    const QString folder = QFileInfo(path_).absolutePath();
    const QByteArray encoded = QFile::encodeName(folder);
    if (mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) {
        failure_ = QStringLiteral("cannot make the folder ") + folder;
        return Role::failed;
    }
    if (!isOwnerOnlyFolder(encoded)) {
        failure_ = QStringLiteral("the folder ") + folder + QStringLiteral(" is not this user's alone");
        return Role::failed;
    }
    LockFile lock(path_ + QStringLiteral(".lock"));
    if (!lock.locked()) {
        failure_ = QStringLiteral("another launch holds ") + path_ + QStringLiteral(".lock");
        return Role::failed;
    }
    switch (deliver(path_, message)) {
    case Delivery::delivered:
        return Role::forwarded;
    case Delivery::noAnswer:
        failure_ = QStringLiteral("Nuvel is already running but does not answer");
        return Role::failed;
    case Delivery::nobody:
        break;
    }
    // Nobody listens: a socket file left here belongs to a process that is gone.
    QLocalServer::removeServer(path_);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->setMaxPendingConnections(8);
    if (!server_->listen(path_)) {
        failure_ = server_->errorString();
        server_.reset();
        return Role::failed;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, [this] { accept(); });
    return Role::primary;
}

void QtSingleInstance::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        // The folder keeps others out; the peer's own credentials are checked all the same.
        struct ucred peer {};
        socklen_t size = sizeof peer;
        if (getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != geteuid()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(clientMilliseconds, socket, [socket] { socket->abort(); });
        if (socket->bytesAvailable() > 0)
            read(socket);
    }
}

void QtSingleInstance::read(QLocalSocket* socket) {
    QByteArray buffer = socket->property("nuvelBuffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0) {
        if (buffer.size() > maximumMessageBytes)
            socket->abort();
        else
            socket->setProperty("nuvelBuffer", buffer);
        return;
    }
    if (end > maximumMessageBytes) {
        socket->abort();
        return;
    }
    const QString message = QString::fromUtf8(buffer.left(end));
    socket->setProperty("nuvelBuffer", QByteArray());
    socket->disconnect(this);
    socket->write("ok\n");
    socket->flush();
    socket->disconnectFromServer();
    if (onMessage)
        onMessage(message);
}

} // namespace nuvel
