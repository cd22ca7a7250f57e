#include "Nuvel/ui/common/MainActorEntry.hpp"

#include <QCoreApplication>
#include <QThread>
#include <cstdio>
#include <mutex>

namespace nuvel {

namespace {

std::mutex reportLock;

UnexpectedExecutorReport& report() {
    static UnexpectedExecutorReport current;
    return current;
}

} // namespace

void setUnexpectedExecutorReport(UnexpectedExecutorReport replacement) {
    std::lock_guard guard(reportLock);
    report() = std::move(replacement);
}

void enterMainActor(const char* file, int line) {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && QThread::currentThread() == app->thread())
        return;
    std::lock_guard guard(reportLock);
    if (report())
        report()(file, line);
    else
        std::fprintf(stderr, "%s:%d: called off the main thread\n", file, line);
}

} // namespace nuvel
