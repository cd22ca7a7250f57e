#include "Nuvel/platform/WindowThreadRefusal.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace nuvel {

namespace {

std::atomic<std::thread::id> refusingThread{};

} // namespace

void refuseBlockingWorkOn(std::thread::id thread) {
    refusingThread.store(thread, std::memory_order_relaxed);
}

void checkBlockingWorkAllowed([[maybe_unused]] const char* what, [[maybe_unused]] const char* doing) {
#ifndef NDEBUG
    if (std::this_thread::get_id() == refusingThread.load(std::memory_order_relaxed)) {
        std::fprintf(stderr, "nuvel: %s would %s on the main thread\n", what, doing);
        std::abort();
    }
#endif
}

} // namespace nuvel
