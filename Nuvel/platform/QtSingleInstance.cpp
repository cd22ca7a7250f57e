#include "Nuvel/platform/QtSingleInstance.hpp"

#include "NuvelKit/support/Files.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace nuvel {

namespace {

constexpr int connectMilliseconds = 2000;
constexpr int answerMilliseconds = 3000;
constexpr int lockMilliseconds = 5000;
constexpr int clientMilliseconds = 5000;
// The longest socket path Qt takes: a socket address holds 108 bytes, and Qt keeps two of them
// back. A home deeper than about 58 characters gives a longer one.
constexpr qsizetype longestSocketPath = qsizetype(sizeof(sockaddr_un::sun_path)) - 2;

// A folder only this user can enter: ours, a real folder (not a link), no access for others.
bool isOwnerOnlyFolder(const QByteArray& path) {
    struct stat info {};
    if (lstat(path.constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 077) == 0;
}

// This user's home: $HOME when it names a folder, else the one the user database gives.
QString homeFolder() {
    const QByteArray home = qgetenv("HOME");
    if (home.startsWith('/'))
        return QFile::decodeName(home);
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        found->pw_dir == nullptr || found->pw_dir[0] != '/')
        return {};
    return QFile::decodeName(found->pw_dir);
}

// The machine's name, as far as it can stand in a file name.
QString hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return QStringLiteral("localhost");
    QString kept;
    for (const char* c = name; *c != '\0' && kept.size() < 64; ++c)
        kept +=
            std::isalnum(static_cast<unsigned char>(*c)) || *c == '-' || *c == '.' ? QChar(*c) : QChar('_');
    return kept;
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

// The name by which this process reaches the socket at `path`: the path itself when a socket
// address holds it; else the socket's file name in its folder, reached through the descriptor
// `folder` opens on that folder ("/proc/self/fd/<n>/<file>"), short whatever the folder's depth.
// `folder` must stay open while the name is used. Empty when /proc does not give the folder.
QString socketName(const QString& path, files::FileDescriptor& folder) {
    if (QFile::encodeName(path).size() <= longestSocketPath)
        return path;
    const QFileInfo info(path);
    folder = files::FileDescriptor(open(QFile::encodeName(info.absolutePath()).constData(),
                                        O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        return {};
    QString name = QStringLiteral("/proc/self/fd/%1/").arg(folder.get()) + info.fileName();
    // The folder opened is still this user's alone; where /proc is not mounted, or is not this
    // process's, the name would lead nowhere or elsewhere.
    struct stat opened {};
    struct stat reached {};
    const QByteArray through = QFile::encodeName(QFileInfo(name).path());
    if (fstat(folder.get(), &opened) != 0 || opened.st_uid != geteuid() || (opened.st_mode & 077) != 0 ||
        stat(through.constData(), &reached) != 0 || opened.st_dev != reached.st_dev ||
        opened.st_ino != reached.st_ino || QFile::encodeName(name).size() > longestSocketPath)
        return {};
    return name;
}

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
    // A shared folder such as the temporary one would let another user make every name this user
    // could try before it does; nobody else can make a name in this user's home. The home may be
    // shared by several machines, each with a Nuvel of its own: the socket is named for this one.
    const QString home = homeFolder();
    if (home.isEmpty())
        return {};
    const QString state = home + QStringLiteral("/.local/state");
    QDir().mkpath(state);
    return state + QStringLiteral("/nuvel/instance-") + hostName();
}

QtSingleInstance::Role QtSingleInstance::claim(const QString& message) {
    if (path_.isEmpty()) {
        failure_ = QStringLiteral("neither a runtime folder (XDG_RUNTIME_DIR) nor a home folder is set");
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
    const QString name = socketName(path_, folder_);
    if (name.isEmpty()) {
        failure_ = QStringLiteral("Nuvel keeps to one copy through a file in %1, a path longer than the "
                                  "%2 bytes the system allows for it, and without /proc no shorter name "
                                  "reaches it. Start Nuvel in a session that sets XDG_RUNTIME_DIR, or "
                                  "with a shorter home folder.")
                       .arg(folder)
                       .arg(longestSocketPath);
        return Role::failed;
    }
    LockFile lock(path_ + QStringLiteral(".lock"));
    if (!lock.locked()) {
        failure_ = QStringLiteral("another launch holds ") + path_ + QStringLiteral(".lock");
        return Role::failed;
    }
    switch (deliver(name, message)) {
    case Delivery::delivered:
        return Role::forwarded;
    case Delivery::noAnswer:
        failure_ = QStringLiteral("Nuvel is already running but does not answer");
        return Role::failed;
    case Delivery::nobody:
        break;
    }
    // Nobody listens: a socket file left here belongs to a process that is gone.
    QLocalServer::removeServer(name);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->setMaxPendingConnections(8);
    if (!server_->listen(name)) {
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
