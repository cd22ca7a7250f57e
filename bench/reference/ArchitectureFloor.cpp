// The start-up references of bench/shell-memory beside the minimal window: the same window in a
// program that links what Nuvel links at start (Qt Network, libpulse with libsndfile, libcrypto,
// simdjson) and makes each library do what its first use in any program does (a PulseAudio main
// loop made, libsndfile and simdjson asked for their versions and kernels, the first random bytes
// drawn). With --startup-steps it also does the start-up work of Nuvel's own that a program on
// those libraries need not do: it claims a per-user local socket as the single instance does,
// loads the default network-information backend as the network monitor does, sets its SVG window
// icon and shows one icon of the desktop's theme.
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMainWindow>
#include <QNetworkInformation>
#include <cstring>
#include <memory>
#include <openssl/rand.h>
#include <pulse/thread-mainloop.h>
#include <simdjson.h>
#include <sndfile.h>

int main(int argc, char** argv) {
    const bool startupSteps = argc > 1 && std::strcmp(argv[1], "--startup-steps") == 0;
    QApplication app(argc, argv);
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    (void)sf_version_string();
    (void)simdjson::get_active_implementation();
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return 1;

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Floor"));
    auto* label = new QLabel(QStringLiteral("One window"));
    window.setCentralWidget(label);
    std::unique_ptr<QLocalServer> server;
    if (startupSteps) {
        const QString name = QStringLiteral("nuvel-bench-floor-%1").arg(QCoreApplication::applicationPid());
        QLocalSocket other;
        other.connectToServer(name);
        other.waitForConnected(100);
        server = std::make_unique<QLocalServer>();
        server->listen(name);
        // The bench ends this program with SIGTERM: its socket's file goes now, not never.
        QLocalServer::removeServer(name);
        QNetworkInformation::loadDefaultBackend();
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/nuvel.svg")));
        label->setPixmap(QIcon::fromTheme(QStringLiteral("avatar-default")).pixmap(15, 15));
    }
    window.resize(1080, 720);
    window.show();
    const int status = QApplication::exec();
    pa_threaded_mainloop_free(loop);
    return status;
}
