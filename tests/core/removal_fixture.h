#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/form1.h"
#include "memory/memory_controls.h"
#include "platform/errors.h"

namespace clearstrand::removal_test {

// An onCall hook that raises on the n-th (1-based) call named `call` only.
inline std::function<void(const std::string&)> FailNth(std::string call, int n) {
    auto seen = std::make_shared<int>(0);
    return [call = std::move(call), n, seen](const std::string& made) {
        if (made == call && ++*seen == n) {
            throw PlatformError(static_cast<int32_t>(0x80004005u), u"Injected: " + FromUtf8(made));
        }
    };
}

// A memory machine with its Form1 loaded; logs start empty.
class RemovalTest : public ::testing::Test {
protected:
    RemovalTest() {
        p.form().Form_Load();
        ClearLogs();
    }

    Form1& form() { return p.form(); }

    void ClearLogs() {
        p.log.events.clear();
        p.registry.calls.clear();
        p.installer.calls.clear();
        p.files.calls.clear();
        p.management.monikers.clear();
        p.shell.boxes.clear();
        p.shell.errors.clear();
        p.files.fileSystemsCreated = 0;
    }

    // The events of the shared log that start with one of `prefixes`, in order.
    std::vector<std::string> Events(std::initializer_list<std::string_view> prefixes) const {
        std::vector<std::string> picked;
        for (const auto& event : p.log.events) {
            for (auto prefix : prefixes) {
                if (event.compare(0, prefix.size(), prefix) == 0) {
                    picked.push_back(event);
                    break;
                }
            }
        }
        return picked;
    }

    void ExpectBoxes(const std::vector<std::u16string>& prompts) const {
        ASSERT_EQ(p.shell.boxes.size(), prompts.size());
        for (size_t i = 0; i < prompts.size(); ++i) {
            EXPECT_EQ(ToUtf8(p.shell.boxes[i].prompt), ToUtf8(prompts[i]));
            EXPECT_EQ(p.shell.boxes[i].buttons, kMsgBoxOkOnly);
            EXPECT_FALSE(p.shell.boxes[i].title.has_value());
        }
    }

    MemoryPlatform p;
};

inline const std::string kHklm = std::to_string(kHiveLocalMachine);
inline const std::string kHkcu = std::to_string(kHiveCurrentUser);

}  // namespace clearstrand::removal_test
