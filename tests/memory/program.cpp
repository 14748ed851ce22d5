#include "memory/program.h"

#include <algorithm>
#include <stdexcept>

#include "platform/errors.h"
#include "scenario/scenario.h"

namespace clearstrand::memory {

namespace {

using Log = std::vector<std::string>;

std::string Render(const std::u16string& text) { return scenario::Render(ToUtf8(text)); }

struct Node final : TreeNode {
    Node(std::u16string_view key, std::u16string_view text, Node* parent) : key(key), text(text), parent(parent) {}
    std::u16string Key() const override { return key; }
    std::u16string Text() const override { return text; }
    bool Checked() const override { return checked; }
    void SetChecked(bool value) override { checked = value; }
    bool Expanded() const override { return expanded; }
    void SetExpanded(bool value) override { expanded = value; }
    bool Bold() const override { return bold; }
    void SetBold(bool value) override { bold = value; }
    int32_t Children() const override { return static_cast<int32_t>(children.size()); }
    TreeNode* Child() override { return children.empty() ? nullptr : children.front(); }
    TreeNode* Next() override {
        if (!parent) return nullptr;  // the one top-level node has no sibling
        const auto it = std::find(parent->children.begin(), parent->children.end(), this);
        return it + 1 == parent->children.end() ? nullptr : *(it + 1);
    }
    TreeNode* Parent() override { return parent; }

    std::u16string key, text;
    Node* parent;
    std::vector<Node*> children;
    bool checked = false, expanded = false, bold = false;
};

// The Nodes collection's own error numbers.
[[noreturn]] void TreeError(int32_t number, const char16_t* text) { throw PlatformError(number, text); }

class MemoryTree final : public TreeView, private TreeNodes {
public:
    explicit MemoryTree(Program& program) : program_(program) {}
    TreeNodes& Nodes() override { return *this; }
    void SetNodeCheckHandler(std::function<void(TreeNode&)> handler) override { handler_ = std::move(handler); }

    // The user flips a check box: the handler sees the new state.
    void Toggle(const std::u16string& caption, std::optional<bool> to) {
        Node* found = nullptr;
        for (const auto& node : nodes_) {
            if (node->text == caption && found) throw std::runtime_error("two nodes are captioned " + ToUtf8(caption));
            if (node->text == caption) found = node.get();
        }
        if (!found || (to && found->checked == *to)) throw std::runtime_error("cannot flip " + ToUtf8(caption));
        found->checked = !found->checked;
        if (handler_) handler_(*found);
    }

private:
    void Clear() override {
        program_.lastClearAt = program_.machine.calls.size();
        nodes_.clear();
    }
    TreeNode& Add(std::u16string_view key, std::u16string_view text) override { return Insert(nullptr, key, text); }
    TreeNode& Add(std::u16string_view relative, Relationship, std::u16string_view key, std::u16string_view text) override {
        for (const auto& node : nodes_) {
            if (node->key == relative) return Insert(node.get(), key, text);
        }
        TreeError(35601, u"Element not found");
    }
    TreeNode& Insert(Node* parent, std::u16string_view key, std::u16string_view text) {
        for (const auto& node : nodes_) {
            if (node->key == key) TreeError(35602, u"Key is not unique in collection");
        }
        nodes_.push_back(std::make_unique<Node>(key, text, parent));
        if (parent) parent->children.push_back(nodes_.back().get());
        return *nodes_.back();
    }
    TreeNode& Item(int32_t index) override {
        if (index < 1 || index > Count()) TreeError(35600, u"Index out of bounds");
        return *nodes_[static_cast<size_t>(index - 1)];
    }
    void Remove(int32_t index) override {
        Node* gone = static_cast<Node*>(&Item(index));
        if (gone->parent) std::erase(gone->parent->children, gone);
        std::erase_if(nodes_, [&](const std::unique_ptr<Node>& n) {  // with its subtree
            for (const Node* at = n.get(); at; at = at->parent) {
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

struct Button final : CommandButton {
    Button(Log& log, std::string name) : log(log), name(std::move(name)) {}
    bool Enabled() const override { return enabled; }
    void SetEnabled(bool value) override {
        enabled = value;
        log.push_back(name + (value ? " on" : " off"));
    }
    Log& log;
    std::string name;
    bool enabled = true;  // as designed
};

struct MemoryLabel final : Label {
    explicit MemoryLabel(Log& log) : log(log) {}
    std::u16string Caption() const override { return caption; }
    void SetCaption(const std::u16string& value) override {
        caption = value;
        log.push_back("label " + Render(value));
    }
    Log& log;
    std::u16string caption;
};

struct MemoryPanel final : Panel {
    MemoryPanel(Log& log, int index) : log(log), name("panel " + std::to_string(index)) {}
    int32_t Bevel() const override { return bevel; }
    void SetBevel(int32_t value) override { log.push_back(name + " bevel " + std::to_string(bevel = value)); }
    int32_t AutoSize() const override { return autoSize; }
    void SetAutoSize(int32_t value) override { log.push_back(name + " autosize " + std::to_string(autoSize = value)); }
    std::u16string Text() const override { return text; }
    void SetText(const std::u16string& value) override {
        text = value;
        log.push_back((name == "panel 1" ? "panel 1 text " : "status ") + ToUtf8(value));
    }
    Log& log;
    std::string name;
    int32_t bevel = 1, autoSize = 0;  // inset and fixed, as designed
    std::u16string text;
};

struct Bar final : StatusBar {
    explicit Bar(Log& log) : log(log) { panels.push_back(std::make_unique<MemoryPanel>(log, 1)); }  // the design's one
    int32_t Count() const override { return static_cast<int32_t>(panels.size()); }
    Panel& Item(int32_t index) override {
        if (index < 1 || index > Count()) TreeError(35600, u"Index out of bounds");
        return *panels[static_cast<size_t>(index - 1)];
    }
    Panel& Add() override {
        panels.push_back(std::make_unique<MemoryPanel>(log, Count() + 1));
        log.push_back(panels.back()->name + " added");
        return *panels.back();
    }
    Log& log;
    std::vector<std::unique_ptr<MemoryPanel>> panels;
};

constexpr int32_t kErrorIcon = 16;  // MB_ICONERROR

struct MemoryShell final : Shell {
    explicit MemoryShell(Program& program) : program(program) {}
    int32_t MsgBox(const std::u16string& prompt, int32_t buttons, const std::optional<std::u16string>& title) override {
        program.Box(prompt, buttons, title.value_or(u""));
        return kMsgBoxResultOk;
    }
    void End() override { program.ended = true; }
    void ReportError(const std::u16string& description) override { program.Box(description, kErrorIcon, u"Clearstrand"); }
    Program& program;
};

}  // namespace

struct Program::Controls {
    explicit Controls(Program& p)
        : tree(p), refresh(p.log, "Refresh"), start(p.log, "Start"), cancel(p.log, "Cancel"), label(p.log), bar(p.log),
          shell(p) {}
    MemoryTree tree;
    Button refresh, start, cancel;
    MemoryLabel label;
    Bar bar;
    MemoryShell shell;
};

Program::Program() : controls_(std::make_unique<Controls>(*this)) {
    machine.onCall = [this](const std::string& call) { log.push_back(call); };
    Controls& c = *controls_;
    form_ = std::make_unique<Form1>(FormControls{c.refresh, c.start, c.cancel, c.label, c.bar, c.tree},
                                    FormServices{machine.management(), machine.files(), c.shell});
    c.tree.SetNodeCheckHandler([this](TreeNode& node) { form_->TreeView1_NodeCheck(node); });
}

Program::~Program() = default;

void Program::Box(const std::u16string& prompt, int32_t buttons, const std::u16string& title) {
    log.push_back("box " + std::to_string(buttons) + " " + (title.empty() ? "-" : ToUtf8(title)) + " " + Render(prompt));
    // As the user sees it: "[title] " when the title is not the program's,
    // "[!] " when it shows an icon.
    boxes.push_back((title.empty() || title == u"Clearstrand" ? "" : "[" + ToUtf8(title) + "] ") +
                    (buttons != kMsgBoxOkOnly ? "[!] " : "") + Render(prompt));
}

template <typename Handler>
void Program::Raise(Handler handler) {
    if (ended) return;
    try {
        handler();
    } catch (const PlatformError& error) {
        // The runtime's report of an error no handler caught, then the end.
        Box(error.description(), kErrorIcon, u"Clearstrand");
        ended = true;
    }
}

void Program::Open() {
    Raise([this] { form_->Form_Load(); });
    Raise([this] { form_->Form_Activate(); });
}

void Program::Click(const std::string& button) {
    Controls& c = *controls_;
    if (button == "Refresh" && c.refresh.enabled) Raise([this] { form_->Command1_Click(); });
    if (button == "Start" && c.start.enabled) Raise([this] { form_->Command2_Click(); });
    if (button == "Cancel" && c.cancel.enabled) Raise([this] { form_->Command3_Click(); });
}

void Program::Toggle(const std::u16string& caption, std::optional<bool> to) {
    Raise([&] { controls_->tree.Toggle(caption, to); });
}

TreeView& Program::Tree() { return controls_->tree; }

std::vector<std::string> Program::Window() {
    if (ended) return {"ended"};
    const Controls& c = *controls_;
    std::string buttons, panels = "panels:";
    for (const Button* b : {&c.refresh, &c.start, &c.cancel}) {
        buttons += (buttons.empty() ? "" : ", ") + b->name + (b->enabled ? " on" : " off");
    }
    for (const auto& p : c.bar.panels) {
        panels += std::string(p->bevel == kPanelNoBevel ? " flat" : " inset") +
                  (p->autoSize == kPanelSpring ? " spring" : " fixed") + " \"" + ToUtf8(p->text) + "\"";
    }
    return {buttons, panels, "label: " + Render(c.label.caption)};
}

}  // namespace clearstrand::memory
