#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/form1.h"
#include "memory/event_log.h"
#include "memory/memory_files.h"
#include "memory/memory_installer.h"
#include "memory/memory_registry.h"
#include "memory/memory_tree.h"

namespace clearstrand {

// Controls that record every change into a shared EventLog, e.g.
// "Command1.Enabled=0", "Label2.Caption=...", "status=Working...".
class MemoryButton : public CommandButton {
public:
    MemoryButton(EventLog& log, std::string name) : log_(log), name_(std::move(name)) {}
    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override;

private:
    EventLog& log_;
    std::string name_;
    bool enabled_ = true;  // as designed
};

class MemoryLabel : public Label {
public:
    MemoryLabel(EventLog& log, std::string name) : log_(log), name_(std::move(name)) {}
    std::u16string Caption() const override { return caption_; }
    void SetCaption(const std::u16string& caption) override;

private:
    EventLog& log_;
    std::string name_;
    std::u16string caption_;
};

// Panel 1 logs as "Panel1.<property>=", later panels' texts as "status=" and
// their other properties as "Panel<n>.<property>=".
class MemoryPanel : public Panel {
public:
    MemoryPanel(EventLog& log, int32_t index) : log_(log), index_(index) {}
    int32_t Bevel() const override { return bevel_; }
    void SetBevel(int32_t bevel) override;
    int32_t AutoSize() const override { return autoSize_; }
    void SetAutoSize(int32_t autoSize) override;
    std::u16string Text() const override { return text_; }
    void SetText(const std::u16string& text) override;

private:
    std::string Name() const { return "Panel" + std::to_string(index_); }

    EventLog& log_;
    int32_t index_;
    int32_t bevel_ = 1;     // sbrInset, the designed default
    int32_t autoSize_ = 0;  // sbrNoAutoSize
    std::u16string text_;
};

// Starts with the one panel of the design.
class MemoryStatusBar : public StatusBar {
public:
    explicit MemoryStatusBar(EventLog& log);
    int32_t Count() const override { return static_cast<int32_t>(panels_.size()); }
    Panel& Item(int32_t index) override;
    Panel& Add() override;

private:
    EventLog& log_;
    std::vector<std::unique_ptr<MemoryPanel>> panels_;
};

struct MsgBoxRecord {
    std::u16string prompt;
    int32_t buttons;
    std::optional<std::u16string> title;
};

// Message boxes are answered OK at once.
class MemoryShell : public Shell {
public:
    explicit MemoryShell(EventLog& log) : log_(log) {}
    int32_t MsgBox(const std::u16string& prompt, int32_t buttons,
                   const std::optional<std::u16string>& title) override;
    void End() override;
    void ReportError(const std::u16string& description) override;

    std::vector<MsgBoxRecord> boxes;
    std::vector<std::u16string> errors;
    bool ended = false;

private:
    EventLog& log_;
};

// One of everything, wired together, with a Form1 over it; the tree's
// NodeCheck goes to the form's TreeView1_NodeCheck. The registry, installer
// and file service also add their calls to `log`.
struct MemoryPlatform {
    MemoryPlatform();
    MemoryPlatform(const MemoryPlatform&) = delete;
    MemoryPlatform& operator=(const MemoryPlatform&) = delete;

    Form1& form() { return *form_; }
    // The last panel's text, where the form writes its status.
    std::u16string status() const;

    EventLog log;
    MemoryRegistry registry;
    MemoryInstaller installer;
    MemoryManagementService management{registry, installer};
    MemoryFileService files;
    MemoryTreeView tree;
    MemoryButton command1{log, "Command1"};
    MemoryButton command2{log, "Command2"};
    MemoryButton command3{log, "Command3"};
    MemoryLabel label2{log, "Label2"};
    MemoryStatusBar statusBar{log};
    MemoryShell shell{log};

private:
    std::unique_ptr<Form1> form_;  // last: it refers to everything above
};

}  // namespace clearstrand
