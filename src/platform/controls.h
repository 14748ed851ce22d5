#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace clearstrand {

// The window's controls as Form1 sees them, beside the tree's contract. The
// Windows program implements them on the platform's own controls; the tests
// record what Form1 does.

class CommandButton {
public:
    virtual ~CommandButton() = default;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
};

class Label {
public:
    virtual ~Label() = default;
    virtual std::u16string Caption() const = 0;
    virtual void SetCaption(const std::u16string& caption) = 0;
};

// Error numbers the controls' collections (the tree's Nodes, the status
// bar's Panels) raise.
inline constexpr int32_t kErrIndexOutOfBounds = 35600;
inline constexpr int32_t kErrElementNotFound = 35601;
inline constexpr int32_t kErrKeyNotUnique = 35602;
inline constexpr int32_t kErrControlFailed = 35603;

inline constexpr int32_t kPanelNoBevel = 0;   // sbrNoBevel
inline constexpr int32_t kPanelSpring = 1;    // sbrSpring: takes the width the others leave

class Panel {
public:
    virtual ~Panel() = default;
    virtual int32_t Bevel() const = 0;
    virtual void SetBevel(int32_t bevel) = 0;
    virtual int32_t AutoSize() const = 0;
    virtual void SetAutoSize(int32_t autoSize) = 0;
    virtual std::u16string Text() const = 0;
    // The new text shows at once, even though the handler that sets it does
    // not let other events in; texts set faster than anyone can read them
    // show within a tenth of a second.
    virtual void SetText(const std::u16string& text) = 0;
};

// The status bar's Panels collection.
class StatusBar {
public:
    virtual ~StatusBar() = default;
    virtual int32_t Count() const = 0;
    virtual Panel& Item(int32_t index) = 0;  // 1-based
    virtual Panel& Add() = 0;                // appended at the end
};

inline constexpr int32_t kMsgBoxOkOnly = 0;        // vbOKOnly
inline constexpr int32_t kMsgBoxExclamation = 48;  // vbExclamation
inline constexpr int32_t kMsgBoxResultOk = 1;      // vbOK

// The program's name: the disclaimer's title, and the title of every message
// box that brings none of its own.
inline constexpr char16_t kProgramName[] = u"Clearstrand";

// What the window toolkit offers besides controls.
class Shell {
public:
    virtual ~Shell() = default;
    // Modal message box; no title shows the application's default title.
    virtual int32_t MsgBox(const std::u16string& prompt, int32_t buttons,
                           const std::optional<std::u16string>& title) = 0;
    // Ends the program at once.
    virtual void End() = 0;
};

}  // namespace clearstrand
