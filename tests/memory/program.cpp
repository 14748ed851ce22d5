#include "memory/program.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "platform/errors.h"
#include "scenario/scenario.h"

namespace clearstrand::memory {

namespace {

class Node final : public TreeNode {
public:
    Node(std::u16string key, std::u16string text, Node* parent)
        : key_(std::move(key)), text_(std::move(text)), parent_(parent) {}

    std::u16string Key() const override { return key_; }
    std::u16string Text() const override { return text_; }
    bool Checked() const override { return checked_; }
    void SetChecked(bool checked) override { checked_ = checked; }
    bool Expanded() const override { return expanded_; }
    void SetExpanded(bool expanded) override { expanded_ = expanded; }
    bool Bold() const override { return bold_; }
    void SetBold(bool bold) override { bold_ = bold; }
    int32_t Children() const override { return static_cast<int32_t>(children_.size()); }
    TreeNode* Child() override { return children_.empty() ? nullptr : children_.front(); }
    TreeNode* Next() override {
        if (!parent_) return nullptr;  // the one top-level node has no sibling here
        auto& siblings = parent_->children_;
        const auto it = std::find(siblings.begin(), siblings.end(), this);
        return it + 1 == siblings.end() ? nullptr : *(it + 1);
    }
    TreeNode* Parent() override { return parent_; }

private:
    std::u16string key_;
    std::u16string text_;

public:
    Node* parent_;
    std::vector<Node*> children_;

private:
    bool checked_ = false;
    bool expanded_ = false;
    bool bold_ = false;
};

constexpr int32_t kErrorBox = 16;  // MB_ICONERROR

std::string RenderText(const std::u16string& text) { return scenario::Render(ToUtf8(text)); }

// Error numbers of the tree's Nodes collection.
constexpr int32_t kIndexOutOfBounds = 35600;
constexpr int32_t kElementNotFound = 35601;
constexpr int32_t kKeyNotUnique = 35602;

class MemoryTree final : public TreeView, private TreeNodes {
public:
    explicit MemoryTree(Program& program) : program_(program) {}

    TreeNodes& Nodes() override { return *this; }
    void SetNodeCheckHandler(std::function<void(TreeNode&)> handler) override { handler_ = std::move(handler); }

    Node* Find(const std::u16string& caption) {
        Node* found = nullptr;
        for (const auto& node : nodes_) {
            if (node->Text() != caption) continue;
            if (found) throw std::runtime_error("two nodes are captioned " + ToUtf8(caption));
            found = node.get();
        }
        return found;
    }
    void Toggle(Node& node) {
        node.SetChecked(!node.Checked());
        if (handler_) handler_(node);
    }

private:
    void Clear() override {
        program_.lastClearAt = program_.machine.calls.size();
        nodes_.clear();
    }
    TreeNode& Add(std::u16string_view key, std::u16string_view text) override { return Insert(nullptr, key, text); }
    TreeNode& Add(std::u16string_view relative, Relationship, std::u16string_view key,
                  std::u16string_view text) override {
        for (const auto& node : nodes_) {
            if (node->Key() == relative) return Insert(node.get(), key, text);
        }
        throw PlatformError(kElementNotFound, u"Element not found");
    }
    TreeNode& Insert(Node* parent, std::u16string_view key, std::u16string_view text) {
        for (const auto& node : nodes_) {
            if (node->Key() == key) throw PlatformError(kKeyNotUnique, u"Key is not unique in collection");
        }
        nodes_.push_back(std::make_unique<Node>(std::u16string(key), std::u16string(text), parent));
        if (parent) parent->children_.push_back(nodes_.back().get());
        return *nodes_.back();
    }
    TreeNode& Item(int32_t index) override {
        if (index < 1 || index > Count()) throw PlatformError(kIndexOutOfBounds, u"Index out of bounds");
        return *nodes_[static_cast<size_t>(index - 1)];
    }
    void Remove(int32_t index) override {
        Node* gone = static_cast<Node*>(&Item(index));
        if (gone->parent_) std::erase(gone->parent_->children_, gone);
        // Its subtree goes with it.
        std::erase_if(nodes_, [&](const std::unique_ptr<Node>& n) {
            for (const Node* at = n.get(); at; at = at->parent_) {
                if (at == gone) return true;
            }
            return false;
        });
    }
    int32_t Count() const override { return static_cast<int32_t>(nodes_.size()); }

    Program& program_;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::function<void(TreeNode&)> handler_;
};

class Button final : public CommandButton {
public:
    Button(std::vector<std::string>& log, std::string name) : name_(std::move(name)), log_(log) {}
    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override {
        enabled_ = enabled;
        log_.push_back(name_ + (enabled ? " on" : " off"));
    }
    std::string name_;

private:
    std::vector<std::string>& log_;
    bool enabled_ = true;  // as designed
};

class MemoryLabel final : public Label {
public:
    explicit MemoryLabel(std::vector<std::string>& log) : log_(log) {}
    std::u16string Caption() const override { return caption_; }
    void SetCaption(const std::u16string& caption) override {
        caption_ = caption;
        log_.push_back("label " + RenderText(caption));
    }

private:
    std::vector<std::string>& log_;
    std::u16string caption_;
};

class MemoryPanel final : public Panel {
public:
    MemoryPanel(std::vector<std::string>& log, int index) : log_(log), index_(index) {}
    int32_t Bevel() const override { return bevel_; }
    void SetBevel(int32_t bevel) override {
        bevel_ = bevel;
        log_.push_back("panel " + std::to_string(index_) + " bevel " + std::to_string(bevel));
    }
    int32_t AutoSize() const override { return autoSize_; }
    void SetAutoSize(int32_t autoSize) override {
        autoSize_ = autoSize;
        log_.push_back("panel " + std::to_string(index_) + " autosize " + std::to_string(autoSize));
    }
    std::u16string Text() const override { return text_; }
    void SetText(const std::u16string& text) override {
        text_ = text;
        log_.push_back((index_ == 1 ? "panel 1 text " : "status ") + ToUtf8(text));
    }
    std::string Render() const {
        return std::string(bevel_ == kPanelNoBevel ? "flat" : "inset") +
               (autoSize_ == kPanelSpring ? " spring" : " fixed") + " \"" + ToUtf8(text_) + "\"";
    }

private:
    std::vector<std::string>& log_;
    int index_;
    int32_t bevel_ = 1;  // inset, as designed
    int32_t autoSize_ = 0;
    std::u16string text_;
};

class Bar final : public StatusBar {
public:
    explicit Bar(std::vector<std::string>& log) : log_(log) {
        panels_.push_back(std::make_unique<MemoryPanel>(log_, 1));  // the design's one panel
    }
    int32_t Count() const override { return static_cast<int32_t>(panels_.size()); }
    Panel& Item(int32_t index) override {
        if (index < 1 || index > Count()) throw PlatformError(kIndexOutOfBounds, u"Index out of bounds");
        return *panels_[static_cast<size_t>(index - 1)];
    }
    Panel& Add() override {
        panels_.push_back(std::make_unique<MemoryPanel>(log_, Count() + 1));
        log_.push_back("panel " + std::to_string(Count()) + " added");
        return *panels_.back();
    }
    std::vector<std::unique_ptr<MemoryPanel>> panels_;

private:
    std::vector<std::string>& log_;
};

class MemoryShell final : public Shell {
public:
    explicit MemoryShell(Program& program) : program_(program) {}
    int32_t MsgBox(const std::u16string& prompt, int32_t buttons, const std::optional<std::u16string>& title) override {
        program_.Box(prompt, buttons, title.value_or(u""));
        return kMsgBoxResultOk;
    }
    void End() override {
        program_.log.push_back("end");
        program_.ended = true;
    }
    void ReportError(const std::u16string& description) override { program_.Box(description, kErrorBox, u"Clearstrand"); }

private:
    Program& program_;
};

}  // namespace

struct Program::Controls {
    explicit Controls(Program& p) : tree(p), refresh(p.log, "Refresh"), start(p.log, "Start"), cancel(p.log, "Cancel"),
                                    label(p.log), bar(p.log), shell(p) {}
    MemoryTree tree;
    Button refresh, start, cancel;
    MemoryLabel label;
    Bar bar;
    MemoryShell shell;
};

void Program::Box(const std::u16string& prompt, int32_t buttons, const std::u16string& title) {
    log.push_back("box " + std::to_string(buttons) + " " + (title.empty() ? "-" : ToUtf8(title)) + " " +
                  RenderText(prompt));
    // As the user sees it: "[title] " when the title is not the program's,
    // "[!] " when it shows an icon.
    boxes.push_back((title.empty() || title == u"Clearstrand" ? "" : "[" + ToUtf8(title) + "] ") +
                    (buttons != kMsgBoxOkOnly ? "[!] " : "") + RenderText(prompt));
}

Program::Program() : controls_(std::make_unique<Controls>(*this)) {
    machine.onCall = [this](const std::string& call) { log.push_back(call); };
    Controls& c = *controls_;
    form_ = std::make_unique<Form1>(FormControls{c.refresh, c.start, c.cancel, c.label, c.bar, c.tree},
                                    FormServices{machine.management(), machine.files(), c.shell});
    c.tree.SetNodeCheckHandler([this](TreeNode& node) { form_->TreeView1_NodeCheck(node); });
}

Program::~Program() = default;

template <typename Handler>
void Program::Raise(Handler handler) {
    if (ended) return;
    try {
        handler();
    } catch (const PlatformError& error) {
        // The runtime's report of an error no handler caught, then the end.
        Box(error.description(), kErrorBox, u"Clearstrand");
        ended = true;
    }
}

void Program::Open() {
    Raise([this] { form_->Form_Load(); });
    Raise([this] { form_->Form_Activate(); });
}

void Program::Click(const std::string& button) {
    Controls& c = *controls_;
    for (Button* b : {&c.refresh, &c.start, &c.cancel}) {
        if (b->name_ != button || !b->Enabled()) continue;
        if (b == &c.refresh) Raise([this] { form_->Command1_Click(); });
        if (b == &c.start) Raise([this] { form_->Command2_Click(); });
        if (b == &c.cancel) Raise([this] { form_->Command3_Click(); });
    }
}

void Program::Toggle(const std::u16string& caption, std::optional<bool> to) {
    Node* node = controls_->tree.Find(caption);
    if (!node) throw std::runtime_error("no node captioned " + ToUtf8(caption));
    if (to && node->Checked() == *to) throw std::runtime_error(ToUtf8(caption) + " is already so");
    Raise([&] { controls_->tree.Toggle(*node); });
}

TreeView& Program::Tree() { return controls_->tree; }

std::vector<std::string> Program::Window() {
    if (ended) return {"ended"};
    const Controls& c = *controls_;
    std::string buttons;
    for (const Button* b : {&c.refresh, &c.start, &c.cancel}) {
        buttons += (buttons.empty() ? "" : ", ") + b->name_ + (b->Enabled() ? " on" : " off");
    }
    std::string panels = "panels:";
    for (const auto& panel : c.bar.panels_) panels += " " + panel->Render();
    return {buttons, panels, "label: " + RenderText(c.label.Caption())};
}

}  // namespace clearstrand::memory
