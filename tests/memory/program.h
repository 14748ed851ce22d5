#pragma once

// The program in memory: Form1 over a Machine and over controls that log
// what the form does to them, run the way the window runtime runs it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "memory/machine.h"

namespace clearstrand::memory {

class Program {
public:
    Program();
    ~Program();

    // Form_Load, then Form_Activate, as the runtime raises them.
    void Open();
    // "Refresh", "Start" or "Cancel"; a disabled button takes no click.
    void Click(const std::string& button);
    // The user flips the check box of the node with that caption, which
    // must not already be `to`.
    void Toggle(const std::u16string& caption, std::optional<bool> to = std::nullopt);

    TreeView& Tree();
    // Buttons, status panels and the instruction text.
    std::vector<std::string> Window();

    // Shows a message box, answered at once.
    void Box(const std::u16string& prompt, int32_t buttons, const std::u16string& title);

    Machine machine;
    // Window events ("Start off", "status Ready", "box 0 - Failed to...")
    // and the machine's calls, in the order they happened.
    std::vector<std::string> log;
    // The message boxes, as RenderBox shows them.
    std::vector<std::string> boxes;
    bool ended = false;
    // Index into machine.calls at the last time the tree was cleared, which
    // a population always does first.
    size_t lastClearAt = 0;

    struct Controls;

private:
    // Runs a handler as the runtime does: an error that escapes it is
    // reported and ends the program.
    template <typename Handler>
    void Raise(Handler handler);

    std::unique_ptr<Controls> controls_;
    std::unique_ptr<Form1> form_;
};


}  // namespace clearstrand::memory
