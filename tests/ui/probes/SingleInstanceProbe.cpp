// Holds the single-instance socket the way Nuvel does and prints what reaches it, one line per
// message ("message: <text>"), after a first line with its role. Ends when its standard input
// closes. For the tests that start real Nuvel processes beside it.
#include "Nuvel/platform/QtSingleInstance.hpp"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    nuvel::QtSingleInstance instance;
    const auto role = instance.claim(QStringLiteral("probe"));
    std::printf("%s\n", role == nuvel::QtSingleInstance::Role::primary     ? "primary"
                        : role == nuvel::QtSingleInstance::Role::forwarded ? "forwarded"
                                                                           : "failed");
    std::fflush(stdout);
    if (role != nuvel::QtSingleInstance::Role::primary)
        return 0;
    instance.onMessage = [](const QString& message) {
        std::printf("message: %s\n", qPrintable(message));
        std::fflush(stdout);
    };
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char buffer[256];
        if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    return QCoreApplication::exec();
}
