#include "platform/windows/handler_queue.h"

namespace clearstrand::win32 {

void HandlerQueue::Run(std::function<void()> handler) {
    if (stopped_) return;
    if (running_) return waiting_.push_back(std::move(handler));
    running_ = true;
    struct Done {
        bool& running;
        ~Done() { running = false; }
    } done{running_};
    handler();
    while (!waiting_.empty() && !stopped_) {
        auto next = std::move(waiting_.front());
        waiting_.pop_front();
        next();
    }
}

void HandlerQueue::Stop() noexcept {
    stopped_ = true;
    waiting_.clear();
}

}  // namespace clearstrand::win32
