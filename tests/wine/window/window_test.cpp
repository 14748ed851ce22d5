// The main window with its real controls. Form1 is replaced by a recorder of
// the events the window raises, so each test sees exactly what reached the
// handlers.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/windows/main_window.h"
#include "platform/windows/shell.h"
#include "wine/driver/driver.h"

namespace clearstrand::win32 {
namespace {

using namespace std::chrono_literals;
namespace drv = clearstrand::driver;

// ---- The layout as a pure function -------------------------------------------

constexpr Bounds WindowLayout::* kPlaced[] = {&WindowLayout::picture,  &WindowLayout::label,    &WindowLayout::tree,
                                             &WindowLayout::command1, &WindowLayout::command2, &WindowLayout::command3,
                                             &WindowLayout::statusBar};

TEST(LayoutTest, TheDesignInTwipsScalesWithTheDpiWithoutGapsOrOverlaps) {
    const WindowLayout at96 = ComputeLayout(96);
    // At 96 DPI every twip value is divided by fifteen.
    EXPECT_EQ(at96.clientWidth, 527);
    EXPECT_EQ(at96.clientHeight, 501);
    const Bounds design[] = {{48, 16, 33, 44},   {96, 16, 401, 57},  {48, 80, 433, 337}, {120, 432, 81, 25},
                             {224, 432, 81, 25}, {328, 432, 81, 25}, {0, 468, 527, 33}};
    for (size_t i = 0; i < std::size(kPlaced); ++i) EXPECT_EQ(at96.*kPlaced[i], design[i]) << i;
    EXPECT_EQ(ComputeLayout(144).picture, (Bounds{72, 24, 50, 66}));
    EXPECT_EQ(ComputeLayout(144).clientWidth, 791);

    for (unsigned dpi : {120u, 144u, 192u}) {
        SCOPED_TRACE(dpi);
        const WindowLayout scaled = ComputeLayout(dpi);
        const double factor = dpi / 96.0;
        const auto expectScaled = [&](int actual, int design) { EXPECT_LE(std::abs(actual - design * factor), 1.0); };
        expectScaled(scaled.clientWidth, at96.clientWidth);
        expectScaled(scaled.clientHeight, at96.clientHeight);
        for (auto member : kPlaced) {
            expectScaled((scaled.*member).left, (at96.*member).left);
            expectScaled((scaled.*member).top, (at96.*member).top);
            expectScaled((scaled.*member).width, (at96.*member).width);
            expectScaled((scaled.*member).height, (at96.*member).height);
        }
        // The status bar fills the bottom edge exactly; the buttons stay one
        // size and keep their distances.
        EXPECT_EQ(scaled.statusBar.width, scaled.clientWidth);
        EXPECT_EQ(scaled.statusBar.top + scaled.statusBar.height, scaled.clientHeight);
        EXPECT_EQ(scaled.command1.top, scaled.command3.top);
        EXPECT_LE(std::abs(scaled.command1.width - scaled.command2.width), 1);
        EXPECT_LE(std::abs(scaled.command2.width - scaled.command3.width), 1);
        EXPECT_LT(scaled.tree.top + scaled.tree.height, scaled.command1.top);
        EXPECT_LT(scaled.command1.top + scaled.command1.height, scaled.statusBar.top);
    }
}

TEST(LayoutTest, SpringPanelsTakeWhatTheOthersLeave) {
    using V = std::vector<int>;
    EXPECT_EQ(PanelRightEdges({{96, false}, {96, true}}, 527), (V{96, 527}));
    EXPECT_EQ(PanelRightEdges({{96, false}, {96, false}}, 527), (V{96, 192}));
    // Two springs share the rest, the first taking the odd pixel.
    EXPECT_EQ(PanelRightEdges({{96, false}, {10, true}, {10, true}}, 501), (V{96, 299, 501}));
    // A spring never shrinks below its own width.
    EXPECT_EQ(PanelRightEdges({{96, false}, {96, true}}, 150), (V{96, 192}));
    EXPECT_EQ(PanelRightEdges({{96, true}}, 527), (V{527}));
}

// ---- The window --------------------------------------------------------------

struct Recorder final : WindowEvents {
    int activations = 0;
    std::vector<int> clicks;
    std::vector<std::u16string> checks;
    std::function<void(int)> onClick;

    void Activate() override { ++activations; }
    void Click(int button) override {
        clicks.push_back(button);
        if (onClick) onClick(button);
    }
    void NodeCheck(TreeNode& node) override { checks.push_back(node.Key()); }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        window.Create();
        window.SetEvents(&events);
        drv::SetMessageFilter([this](MSG& msg) { return window.PreTranslateMessage(msg); });
    }
    void TearDown() override {
        drv::SetMessageFilter({});
        window.Destroy();
        drv::PumpFor(20ms);
    }

    void ShowAndSettle() {
        window.Show(SW_SHOWNORMAL);
        ASSERT_TRUE(drv::PumpUntil([&] { return events.activations > 0; }, 5s));
        SetForegroundWindow(window.Hwnd());
        drv::PumpFor(50ms);
    }

    // A control's place in the client area.
    Bounds Placed(int id) {
        RECT rect{};
        GetWindowRect(window.Control(id), &rect);
        MapWindowPoints(nullptr, window.Hwnd(), reinterpret_cast<POINT*>(&rect), 2);
        return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
    }

    void ExpectLaidOutFor(unsigned dpi) {
        const WindowLayout layout = ComputeLayout(dpi);
        RECT client{};
        GetClientRect(window.Hwnd(), &client);
        EXPECT_EQ(client.right, layout.clientWidth);
        EXPECT_EQ(client.bottom, layout.clientHeight);
        const int ids[] = {kPicture1Id, kLabel2Id, kTreeView1Id, kCommand1Id, kCommand2Id, kCommand3Id, kStatusBar1Id};
        for (size_t i = 0; i < std::size(ids); ++i) EXPECT_EQ(Placed(ids[i]), layout.*kPlaced[i]) << ids[i];
    }

    int FontHeight(int id) {
        auto font = reinterpret_cast<HFONT>(SendMessageW(window.Control(id), WM_GETFONT, 0, 0));
        LOGFONTW logFont{};
        GetObjectW(font, sizeof(logFont), &logFont);
        return std::abs(logFont.lfHeight);
    }

    MainWindow window{GetModuleHandleW(nullptr)};
    Recorder events;
};

TEST_F(WindowTest, FixedFrameWithTheDesignLayoutCentredOnTheScreen) {
    EXPECT_EQ(drv::WindowText(window.Hwnd()), L"Clearstrand Utility");
    EXPECT_FALSE(IsWindowVisible(window.Hwnd()));  // until Show: the disclaimer comes first
    const LONG_PTR style = GetWindowLongPtrW(window.Hwnd(), GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    ASSERT_EQ(window.Dpi(), 96u);
    ExpectLaidOutFor(96);

    RECT frame{};
    GetWindowRect(window.Hwnd(), &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window.Hwnd(), MONITOR_DEFAULTTOPRIMARY), &monitor);
    EXPECT_LE(std::abs((frame.left + frame.right) - (monitor.rcWork.left + monitor.rcWork.right)), 2);
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (monitor.rcWork.top + monitor.rcWork.bottom)), 2);

    // The tree shows check boxes and keeps its selection visible.
    const LONG_PTR treeStyle = GetWindowLongPtrW(window.Control(kTreeView1Id), GWL_STYLE);
    EXPECT_TRUE(treeStyle & TVS_CHECKBOXES);
    EXPECT_TRUE(treeStyle & TVS_SHOWSELALWAYS);
    EXPECT_TRUE(treeStyle & TVS_HASLINES);
}

TEST_F(WindowTest, AMoveToAMonitorOfAnotherDpiRescalesLayoutFontAndPanels) {
    const int font96 = FontHeight(kCommand1Id);
    RECT suggested{};
    GetWindowRect(window.Hwnd(), &suggested);
    SendMessageW(window.Hwnd(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(window.Dpi(), 144u);
    ExpectLaidOutFor(144);
    EXPECT_GT(FontHeight(kCommand1Id), font96);
    EXPECT_GT(FontHeight(kTreeView1Id), font96);
    const RECT panel1 = drv::StatusPartRect(window.Control(kStatusBar1Id), 0);
    EXPECT_NEAR(panel1.right, 144, 2);  // 1440 twips at 144 DPI

    SendMessageW(window.Hwnd(), WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
    ExpectLaidOutFor(96);
    EXPECT_EQ(FontHeight(kCommand1Id), font96);
}

TEST_F(WindowTest, TabGoesRefreshTreeStartCancelAndSkipsTheRest) {
    std::vector<int> order;
    HWND first = GetNextDlgTabItem(window.Hwnd(), nullptr, FALSE);
    HWND at = first;
    do {
        order.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(window.Hwnd(), at, FALSE);
    } while (at && at != first && order.size() < 10);
    EXPECT_EQ(order, (std::vector<int>{kCommand1Id, kTreeView1Id, kCommand2Id, kCommand3Id}));
    for (int id : {kStatusBar1Id, kLabel2Id, kPicture1Id})
        EXPECT_FALSE(GetWindowLongPtrW(window.Control(id), GWL_STYLE) & WS_TABSTOP) << id;

    // And with the keyboard: the first control has the focus when the
    // window is shown, Tab moves on, Shift+Tab back.
    ShowAndSettle();
    EXPECT_EQ(GetFocus(), window.Control(kCommand1Id));
    drv::PressKey(VK_TAB);
    EXPECT_TRUE(drv::PumpUntil([&] { return GetFocus() == window.Control(kTreeView1Id); }, 2s));
    drv::PressKey(VK_TAB);
    EXPECT_TRUE(drv::PumpUntil([&] { return GetFocus() == window.Control(kCommand2Id); }, 2s));
    INPUT shiftTab[4] = {};
    for (INPUT& input : shiftTab) input.type = INPUT_KEYBOARD;
    shiftTab[0].ki.wVk = VK_SHIFT;
    shiftTab[1].ki.wVk = VK_TAB;
    shiftTab[2].ki.wVk = VK_TAB;
    shiftTab[2].ki.dwFlags = KEYEVENTF_KEYUP;
    shiftTab[3].ki.wVk = VK_SHIFT;
    shiftTab[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, shiftTab, sizeof(INPUT));
    EXPECT_TRUE(drv::PumpUntil([&] { return GetFocus() == window.Control(kTreeView1Id); }, 2s));
    EXPECT_TRUE(events.clicks.empty());
}

TEST_F(WindowTest, EnterAndEscapePressNoButtonButSpaceAndClicksDo) {
    ShowAndSettle();
    for (int id : {kCommand1Id, kCommand2Id, kCommand3Id}) {
        SetFocus(window.Control(id));
        drv::PressKey(VK_RETURN);
        drv::PressKey(VK_ESCAPE);
    }
    SetFocus(window.Control(kTreeView1Id));
    drv::PressKey(VK_RETURN);
    drv::PressKey(VK_ESCAPE);
    drv::PumpFor(300ms);
    EXPECT_TRUE(events.clicks.empty());
    EXPECT_TRUE(IsWindow(window.Hwnd()));

    SetFocus(window.Control(kCommand2Id));
    drv::PressKey(VK_SPACE);
    ASSERT_TRUE(drv::PumpUntil([&] { return events.clicks.size() == 1; }, 2s));
    drv::ClickButton(window.Control(kCommand3Id));
    drv::ClickButton(window.Control(kCommand1Id));
    ASSERT_TRUE(drv::PumpUntil([&] { return events.clicks.size() == 3; }, 2s));
    EXPECT_EQ(events.clicks, (std::vector<int>{2, 3, 1}));

    // A disabled button takes no click.
    FormControls controls = window.Controls();
    controls.Command1.SetEnabled(false);
    EXPECT_FALSE(controls.Command1.Enabled());
    EXPECT_FALSE(drv::IsEnabled(window.Control(kCommand1Id)));
    drv::ClickButton(window.Control(kCommand1Id));
    drv::PumpFor(300ms);
    EXPECT_EQ(events.clicks.size(), 3u);
}

TEST_F(WindowTest, StatusPanelsAndTheTextShownAtOnce) {
    ShowAndSettle();
    StatusBar& bar = window.Controls().StatusBar1;
    HWND hwnd = window.Control(kStatusBar1Id);
    ASSERT_EQ(bar.Count(), 1);
    bar.Item(1).SetBevel(kPanelNoBevel);
    Panel& status = bar.Add();
    status.SetAutoSize(kPanelSpring);
    EXPECT_EQ(bar.Count(), 2);
    EXPECT_EQ(&bar.Item(2), &status);
    EXPECT_THROW(bar.Item(3), PlatformError);
    EXPECT_EQ(drv::StatusPartCount(hwnd), 2);

    // Panel 1 keeps its design width, the spring takes the rest.
    const RECT part1 = drv::StatusPartRect(hwnd, 0);
    const RECT part2 = drv::StatusPartRect(hwnd, 1);
    RECT client{};
    GetClientRect(hwnd, &client);
    EXPECT_NEAR(part1.right - part1.left, 96, 2);
    EXPECT_GE(part2.right, client.right - 2);
    EXPECT_TRUE(HIWORD(SendMessageW(hwnd, SB_GETTEXTLENGTHW, 0, 0)) & SBT_NOBORDERS);
    EXPECT_FALSE(HIWORD(SendMessageW(hwnd, SB_GETTEXTLENGTHW, 1, 0)) & SBT_NOBORDERS);

    // Painted before the handler that sets it returns to the message loop,
    // even with other drawing of the bar still pending. (Wine's status bar
    // paints on SB_SETTEXT by itself, so there this holds in any case;
    // Windows' only invalidates.)
    InvalidateRect(hwnd, nullptr, TRUE);
    status.SetText(u"Working...");
    RECT pending{};
    EXPECT_FALSE(GetUpdateRect(hwnd, &pending, FALSE));
    EXPECT_EQ(drv::StatusText(hwnd, 1), L"Working...");
    EXPECT_EQ(status.Text(), u"Working...");
    EXPECT_EQ(drv::StatusText(hwnd, 0), L"");
}

TEST_F(WindowTest, ActivationIsRaisedOnceOnly) {
    ShowAndSettle();
    EXPECT_EQ(events.activations, 1);

    // A message box coming and going.
    WindowShell shell([this] { return window.Hwnd(); }, [] {});
    std::thread answer([] { drv::AnswerMessageBox(GetCurrentProcessId(), L"Clearstrand", IDOK); });
    shell.MsgBox(u"Failed to delete x", kMsgBoxOkOnly, std::nullopt);
    answer.join();
    // Another program's window taking the foreground, and the user coming back.
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE | WS_BORDER, 0, 0, 80, 40, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(other);
    drv::PumpFor(50ms);
    SetForegroundWindow(window.Hwnd());
    drv::PumpFor(100ms);
    DestroyWindow(other);
    drv::PumpFor(50ms);
    EXPECT_EQ(events.activations, 1);
}

TEST_F(WindowTest, MessageBoxesCarryTheirTitleButtonsAndIcon) {
    ShowAndSettle();
    WindowShell shell([this] { return window.Hwnd(); }, [] {});
    const auto hasIcon = [](HWND box) {
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            if (drv::ClassName(child) == L"Static" && (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                IsWindowVisible(child) && SendMessageW(child, STM_GETICON, 0, 0) != 0)
                return true;
        return false;
    };
    struct Seen {
        std::wstring title, text;
        bool icon = false;
        bool ownedByWindow = false;
    };
    const auto show = [&](const std::function<int32_t()>& call) {
        Seen seen;
        std::thread answer([&] {
            HWND box = drv::WaitForTopWindow(GetCurrentProcessId(), drv::kDialogClass, nullptr, 5s);
            if (!box) return;
            seen = {drv::WindowText(box), drv::MessageBoxText(box), hasIcon(box),
                    GetWindow(box, GW_OWNER) == window.Hwnd()};
            drv::PressDialogButton(box, IDOK);
        });
        EXPECT_EQ(call(), IDOK);
        answer.join();
        return seen;
    };

    Seen plain = show([&] { return shell.MsgBox(u"Failed to uninstall P\rsecond line", kMsgBoxOkOnly, std::nullopt); });
    EXPECT_EQ(plain.title, L"Clearstrand");
    EXPECT_EQ(plain.text, L"Failed to uninstall P\rsecond line");
    EXPECT_FALSE(plain.icon);
    EXPECT_TRUE(plain.ownedByWindow);

    Seen warning = show([&] { return shell.MsgBox(u"Disclaimer", kMsgBoxExclamation, u"Own title"); });
    EXPECT_EQ(warning.title, L"Own title");
    EXPECT_TRUE(warning.icon);

    Seen error = show([&] { shell.ReportError(u"Access is denied."); return IDOK; });
    EXPECT_EQ(error.title, L"Clearstrand");
    EXPECT_EQ(error.text, L"Access is denied.");
    EXPECT_TRUE(error.icon);
}

TEST_F(WindowTest, UserCheckOnTheTreeReachesTheHandler) {
    TreeNodes& nodes = window.Controls().TreeView1.Nodes();
    nodes.Add(u"Root", u"All Items").SetExpanded(true);
    TreeNode& leaf = nodes.Add(u"Root", Relationship::Child, u"leaf", u"Leaf");
    ShowAndSettle();
    drv::ClickCheckBox(window.Control(kTreeView1Id), window.Tree().ItemHandle(leaf));
    ASSERT_TRUE(drv::PumpUntil([&] { return !events.checks.empty(); }, 3s));
    EXPECT_EQ(events.checks, (std::vector<std::u16string>{u"leaf"}));
    EXPECT_TRUE(leaf.Checked());
}

TEST_F(WindowTest, EndClosesTheWindowAndTheLoopReturnsZero) {
    ShowAndSettle();
    events.onClick = [&](int button) {
        if (button == 3) window.End();
    };
    drv::ClickButton(window.Control(kCommand3Id));
    HWND hwnd = window.Hwnd();
    EXPECT_EQ(window.RunMessageLoop(), 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(window.Failure());
    EXPECT_EQ(events.clicks, (std::vector<int>{3}));
}

TEST_F(WindowTest, AnErrorInAHandlerEndsTheLoopWithItsDescription) {
    ShowAndSettle();
    events.onClick = [](int) { throw PlatformError(5, u"Access is denied."); };
    drv::ClickButton(window.Control(kCommand1Id));
    EXPECT_EQ(window.RunMessageLoop(), 1);
    ASSERT_TRUE(window.Failure());
    EXPECT_EQ(*window.Failure(), u"Access is denied.");
    // No handler runs after the failure.
    events.onClick = nullptr;
    SendMessageW(window.Hwnd(), WM_COMMAND, MAKEWPARAM(kCommand2Id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(window.Control(kCommand2Id)));
    EXPECT_EQ(events.clicks, (std::vector<int>{1}));
}

}  // namespace
}  // namespace clearstrand::win32
