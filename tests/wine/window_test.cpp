// The window's keyboard, activation and failure handling, which the program
// cannot be made to show from outside: the real window in the player's
// process, its handlers replaced by a recorder.

#include <gtest/gtest.h>

#include <thread>

#include "platform/errors.h"
#include "platform/windows/main_window.h"
#include "platform/windows/shell.h"
#include "wine/driver.h"

namespace clearstrand::win32 {
namespace {

namespace drv = clearstrand::driver;
using namespace std::chrono_literals;

class Window : public ::testing::Test, WindowEvents {
protected:
    void SetUp() override {
        window.Create();
        window.SetEvents(this);
        drv::messageFilter = [this](MSG& msg) { return window.PreTranslateMessage(msg); };
        window.Show(SW_SHOWNORMAL);
        ASSERT_TRUE(drv::PumpUntil([&] { return activations > 0; }, 5s));
        SetForegroundWindow(window.Hwnd());
        drv::PumpFor(50ms);
    }
    void TearDown() override {
        drv::messageFilter = nullptr;
        window.Destroy();
    }
    void Activate() override { ++activations; }
    void Click(WindowButton button) override {
        clicks.push_back(button);
        if (onClick) onClick();
    }
    void NodeCheck(TreeNode&) override {}

    bool FocusOn(int id) { return drv::PumpUntil([&] { return GetFocus() == window.Control(id); }, 2s); }
    // Shows a box from this thread while another reads and answers it.
    drv::Box Show(const std::function<void()>& call) {
        drv::Box seen{};
        std::thread answer([&] {
            drv::PumpUntil([&] { return drv::FindMessageBox(GetCurrentProcessId()).has_value(); }, 5s);
            if (auto box = drv::FindMessageBox(GetCurrentProcessId())) drv::PressOk((seen = *box).hwnd);
        });
        call();
        answer.join();
        return seen;
    }

    MainWindow window{GetModuleHandleW(nullptr)};
    int activations = 0;
    std::vector<WindowButton> clicks;
    std::function<void()> onClick;
};

TEST_F(Window, TabWalksTheControlsAndOnlySpaceOrAClickPressesAButton) {
    EXPECT_TRUE(FocusOn(kCommand1Id));
    for (int id : {kTreeView1Id, kCommand2Id, kCommand3Id, kCommand1Id}) {
        drv::PressKey(VK_TAB);
        EXPECT_TRUE(FocusOn(id)) << id;
    }
    for (int id : {kCommand1Id, kCommand2Id, kCommand3Id, kTreeView1Id}) {
        SetFocus(window.Control(id));
        drv::PressKey(VK_RETURN);
        drv::PressKey(VK_ESCAPE);
    }
    drv::PumpFor(300ms);
    EXPECT_TRUE(clicks.empty()) << "Enter or Escape pressed a button";
    SetFocus(window.Control(kCommand2Id));
    drv::PressKey(VK_SPACE);
    EXPECT_TRUE(drv::PumpUntil([&] { return clicks == std::vector{WindowButton::Start}; }, 2s));
}

TEST_F(Window, ActivationComesOnceWhateverComesAndGoes) {
    Show([&] { WindowShell([&] { return window.Hwnd(); }, [] {}).MsgBox(u"x", kMsgBoxOkOnly, std::nullopt); });
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 80, 40, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    drv::PumpFor(50ms);
    SetForegroundWindow(window.Hwnd());
    drv::PumpFor(100ms);
    DestroyWindow(other);
    EXPECT_EQ(activations, 1);
}

// The tests run at 144 DPI: the design's twips, rounded to the nearest pixel.
TEST_F(Window, LaidOutAsDesignedAtTheScreensDpi) {
    RECT client{}, tree{}, bar{};
    GetClientRect(window.Hwnd(), &client);
    for (auto [id, rect] : {std::pair{kTreeView1Id, &tree}, {kStatusBar1Id, &bar}}) {
        GetWindowRect(window.Control(id), rect);
        MapWindowPoints(nullptr, window.Hwnd(), reinterpret_cast<POINT*>(rect), 2);
    }
    EXPECT_EQ(std::vector({client.right, client.bottom, tree.left, tree.top, tree.right, tree.bottom, bar.top, bar.right}),
              std::vector<LONG>({791, 752, 72, 120, 722, 626, 702, 791}));
}

TEST_F(Window, AnErrorNoHandlerCatchesEndsTheProgramWithItsReport) {
    onClick = [] {
        PlatformError error(5, u"Access denied.");
        error.SetAction(u"The registry could not be read.");
        throw error;
    };
    SetTimer(window.Hwnd(), 1, 10000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(2); });  // not to wait forever
    SendMessageW(window.Hwnd(), WM_COMMAND, MAKEWPARAM(kCommand1Id, BN_CLICKED), 0);
    EXPECT_EQ(window.RunMessageLoop(), 1);
    ASSERT_TRUE(window.Failure());
    SendMessageW(window.Hwnd(), WM_COMMAND, MAKEWPARAM(kCommand2Id, BN_CLICKED), 0);
    EXPECT_EQ(clicks, std::vector{WindowButton::Refresh}) << "a handler ran after the failure";
    const drv::Box report = Show([&] { ShowErrorReport(nullptr, *window.Failure()); });
    EXPECT_EQ(ToUtf8(report.title + u": " + report.text), "Clearstrand: The registry could not be read.\nAccess denied.");
    EXPECT_EQ(report.icon, LoadIconW(nullptr, IDI_ERROR));
}

}  // namespace
}  // namespace clearstrand::win32
