#pragma once

#include <deque>
#include <functional>

namespace clearstrand::win32 {

// Runs the window's handlers one at a time. A message box inside a handler
// pumps messages: what comes in meanwhile waits for the handler's end, as it
// would for a handler that lets nothing in.
class HandlerQueue {
public:
    void Run(std::function<void()> handler);
    // No handler runs after this, waiting or not.
    void Stop() noexcept;

private:
    bool running_ = false;
    bool stopped_ = false;
    std::deque<std::function<void()>> waiting_;
};

}  // namespace clearstrand::win32
