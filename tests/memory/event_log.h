#pragma once

#include <string>
#include <vector>

namespace clearstrand {

// One ordered record of what the controls and services saw, shared by every
// in-memory piece of a MemoryPlatform so a test can check the order of steps
// across them.
struct EventLog {
    std::vector<std::string> events;

    void Add(std::string event) { events.push_back(std::move(event)); }
};

}  // namespace clearstrand
