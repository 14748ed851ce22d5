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

// A hook that sees every call by the name the memory services log it under
// ("DeleteKey -2147483646 SOFTWARE\X", "GetFolder C:\X") and may raise, so a
// test can fail exactly the n-th call of a kind.
using CallHook = std::function<void(const std::string& call)>;

inline std::string HiveCall(const char* method, int32_t hive, const std::u16string& path) {
    return std::string(method) + " " + std::to_string(hive) + " " + ToUtf8(path);
}

inline PlatformError Injected(const std::string& call) {
    return PlatformError(static_cast<int32_t>(0x80004005u), u"Injected: " + FromUtf8(call));
}

class HookedProvider : public RegistryProvider {
public:
    HookedProvider(std::unique_ptr<RegistryProvider> inner, CallHook& hook)
        : inner_(std::move(inner)), hook_(hook) {}
    int32_t EnumKey(int32_t hive, const std::u16string& path, std::vector<std::u16string>& names) override {
        if (hook_) hook_(HiveCall("EnumKey", hive, path));
        return inner_->EnumKey(hive, path, names);
    }
    int32_t GetStringValue(int32_t hive, const std::u16string& path, const std::u16string& valueName,
                           std::u16string& value) override {
        return inner_->GetStringValue(hive, path, valueName, value);
    }
    int32_t DeleteKey(int32_t hive, const std::u16string& path) override {
        if (hook_) hook_(HiveCall("DeleteKey", hive, path));
        return inner_->DeleteKey(hive, path);
    }

private:
    std::unique_ptr<RegistryProvider> inner_;
    CallHook& hook_;
};

class HookedManagement : public ManagementService {
public:
    explicit HookedManagement(ManagementService& inner) : inner_(inner) {}
    std::unique_ptr<RegistryProvider> GetRegistryProvider(const std::u16string& moniker) override {
        return std::make_unique<HookedProvider>(inner_.GetRegistryProvider(moniker), hook);
    }
    std::unique_ptr<ManagementServices> GetServices(const std::u16string& moniker) override {
        return inner_.GetServices(moniker);
    }
    CallHook hook;

private:
    ManagementService& inner_;
};

class HookedFolder : public Folder {
public:
    HookedFolder(std::unique_ptr<Folder> inner, CallHook& hook) : inner_(std::move(inner)), hook_(hook) {}
    std::u16string Path() const override { return inner_->Path(); }
    std::vector<std::unique_ptr<File>> Files() override { return inner_->Files(); }
    std::vector<std::unique_ptr<Folder>> SubFolders() override {
        std::vector<std::unique_ptr<Folder>> wrapped;
        for (auto& sub : inner_->SubFolders()) {
            wrapped.push_back(std::make_unique<HookedFolder>(std::move(sub), hook_));
        }
        return wrapped;
    }
    void Delete(bool force) override {
        if (hook_) hook_("DeleteFolder " + ToUtf8(inner_->Path()));
        inner_->Delete(force);
    }

private:
    std::unique_ptr<Folder> inner_;
    CallHook& hook_;
};

class HookedFileSystem : public FileSystem {
public:
    HookedFileSystem(std::unique_ptr<FileSystem> inner, CallHook& hook)
        : inner_(std::move(inner)), hook_(hook) {}
    bool FolderExists(const std::u16string& path) override {
        if (hook_) hook_("FolderExists " + ToUtf8(path));
        return inner_->FolderExists(path);
    }
    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        if (hook_) hook_("GetFolder " + ToUtf8(path));
        return std::make_unique<HookedFolder>(inner_->GetFolder(path), hook_);
    }

private:
    std::unique_ptr<FileSystem> inner_;
    CallHook& hook_;
};

class HookedFiles : public FileService {
public:
    explicit HookedFiles(FileService& inner) : inner_(inner) {}
    std::unique_ptr<FileSystem> CreateFileSystem() override {
        ++fileSystemsCreated;
        return std::make_unique<HookedFileSystem>(inner_.CreateFileSystem(), hook);
    }
    ProtectedFolders GetProtectedFolders() override {
        if (hook) hook("GetProtectedFolders");
        return inner_.GetProtectedFolders();
    }
    CallHook hook;
    int fileSystemsCreated = 0;

private:
    FileService& inner_;
};

// Raises on the n-th (1-based) call named `call`, and lets every other pass.
inline CallHook FailNth(std::string call, int n) {
    auto seen = std::make_shared<int>(0);
    return [call = std::move(call), n, seen](const std::string& made) {
        if (made == call && ++*seen == n) throw Injected(made);
    };
}

// A memory machine and a loaded Form1 whose services pass through the hooks
// above. Logs start empty once the form is loaded.
class RemovalTest : public ::testing::Test {
protected:
    RemovalTest() {
        form_ = std::make_unique<Form1>(
            FormControls{p.command1, p.command2, p.command3, p.label2, p.statusBar, p.tree},
            FormServices{management, files, p.shell});
        p.tree.SetNodeCheckHandler([this](TreeNode& node) { form_->TreeView1_NodeCheck(node); });
        form_->Form_Load();
        ClearLogs();
    }

    Form1& form() { return *form_; }

    void ClearLogs() {
        p.log.events.clear();
        p.registry.calls.clear();
        p.installer.calls.clear();
        p.files.calls.clear();
        p.management.monikers.clear();
        p.shell.boxes.clear();
        p.shell.errors.clear();
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
    HookedManagement management{p.management};
    HookedFiles files{p.files};

private:
    std::unique_ptr<Form1> form_;
};

inline const std::string kHklm = std::to_string(kHiveLocalMachine);
inline const std::string kHkcu = std::to_string(kHiveCurrentUser);

}  // namespace clearstrand::removal_test
