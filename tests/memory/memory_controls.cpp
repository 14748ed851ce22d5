#include "memory/memory_controls.h"

#include "platform/errors.h"

namespace clearstrand {

void MemoryButton::SetEnabled(bool enabled) {
    enabled_ = enabled;
    log_.Add(name_ + ".Enabled=" + (enabled ? "1" : "0"));
}

void MemoryLabel::SetCaption(const std::u16string& caption) {
    caption_ = caption;
    log_.Add(name_ + ".Caption=" + ToUtf8(caption));
}

void MemoryPanel::SetBevel(int32_t bevel) {
    bevel_ = bevel;
    log_.Add(Name() + ".Bevel=" + std::to_string(bevel));
}

void MemoryPanel::SetAutoSize(int32_t autoSize) {
    autoSize_ = autoSize;
    log_.Add(Name() + ".AutoSize=" + std::to_string(autoSize));
}

void MemoryPanel::SetText(const std::u16string& text) {
    text_ = text;
    log_.Add((index_ == 1 ? Name() + ".Text=" : std::string("status=")) + ToUtf8(text));
}

MemoryStatusBar::MemoryStatusBar(EventLog& log) : log_(log) {
    panels_.push_back(std::make_unique<MemoryPanel>(log_, 1));
}

Panel& MemoryStatusBar::Item(int32_t index) {
    if (index < 1 || index > Count()) {
        throw PlatformError(35600, u"Index out of bounds");
    }
    return *panels_[static_cast<size_t>(index - 1)];
}

Panel& MemoryStatusBar::Add() {
    panels_.push_back(std::make_unique<MemoryPanel>(log_, Count() + 1));
    log_.Add("StatusBar1.Panels.Add");
    return *panels_.back();
}

int32_t MemoryShell::MsgBox(const std::u16string& prompt, int32_t buttons,
                            const std::optional<std::u16string>& title) {
    boxes.push_back({prompt, buttons, title});
    log_.Add("MsgBox " + ToUtf8(prompt));
    return kMsgBoxResultOk;
}

void MemoryShell::End() {
    ended = true;
    log_.Add("End");
}

void MemoryShell::ReportError(const std::u16string& description) {
    errors.push_back(description);
    log_.Add("Error " + ToUtf8(description));
}

MemoryPlatform::MemoryPlatform() {
    registry.log = &log;
    installer.log = &log;
    files.log = &log;
    form_ = std::make_unique<Form1>(
        FormControls{command1, command2, command3, label2, statusBar, tree},
        FormServices{management, files, shell});
    tree.SetNodeCheckHandler([this](TreeNode& node) { form_->TreeView1_NodeCheck(node); });
}

std::u16string MemoryPlatform::status() const {
    auto& bar = const_cast<MemoryStatusBar&>(statusBar);
    return bar.Item(bar.Count()).Text();
}

}  // namespace clearstrand
