#include "NuvelKit/support/MainQueue.hpp"

#include <cstdio>
#include <cstdlib>

namespace nuvel {

void MainQueue::requireCurrent(const char* where) const {
    if (!isCurrent()) {
        std::fprintf(stderr, "nuvel: %s called off the main thread\n", where);
        std::abort();
    }
}

} // namespace nuvel
