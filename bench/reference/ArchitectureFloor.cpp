// The second reference of bench/shell-memory: the minimal window plus what the chosen libraries make
// every start of a program built on them do before its window shows, with none of the program's own
// work. It links what the program links at start (Qt Network, libpulse with libsndfile, libcrypto,
// simdjson), claims a per-user local socket, loads the default network-information backend, draws
// its first random bytes, sets its SVG window icon and shows one icon of the desktop's theme.
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QNetworkInformation>
#include <openssl/rand.h>
#include <pulse/thread-mainloop.h>
#include <simdjson.h>
#include <sndfile.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString name = QStringLiteral("nuvel-bench-floor-%1").arg(QCoreApplication::applicationPid());
    QLocalSocket other;
    other.connectToServer(name);
    other.waitForConnected(100);
    QLocalServer server;
    server.listen(name);
    // The bench ends this program with SIGTERM: its socket's file goes now, not never.
    QLocalServer::removeServer(name);
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    (void)sf_version_string();
    (void)simdjson::get_active_implementation();
    QNetworkInformation::loadDefaultBackend();
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return 1;
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/nuvel.svg")));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Floor"));
    auto* label = new QLabel(QStringLiteral("One window"));
    label->setPixmap(QIcon::fromTheme(QStringLiteral("avatar-default")).pixmap(15, 15));
    window.setCentralWidget(label);
    window.resize(1080, 720);
    window.show();
    const int status = QApplication::exec();
    pa_threaded_mainloop_free(loop);
    return status;
}
