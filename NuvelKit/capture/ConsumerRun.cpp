#include "NuvelKit/capture/ConsumerRun.hpp"

namespace nuvel {

ConsumerRun::ConsumerRun(MainQueue& queue, Body body) : state_(std::make_shared<TaskState>(queue)) {
    thread_ = std::thread([state = state_, body = std::move(body)] {
        std::exception_ptr error;
        try {
            body(state->stopToken());
        } catch (...) {
            error = std::current_exception();
        }
        state->finish(error);
    });
}

ConsumerRun::~ConsumerRun() {
    state_->cancel();
    if (thread_.joinable())
        thread_.join();
}

} // namespace nuvel
