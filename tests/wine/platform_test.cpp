// What the scenarios cannot reach through the program: the window's
// keyboard, activation and failure handling with its handlers replaced by a
// recorder, and the services' answers to what the program never asks.
//
//   platform_test.exe MSI_FOLDER

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/errors.h"
#include "platform/windows/main_window.h"
#include "platform/windows/msi_products.h"
#include "platform/windows/shell.h"
#include "platform/windows/wmi_management.h"
#include "wine/driver.h"

namespace clearstrand::win32 {
namespace {

namespace drv = clearstrand::driver;
using namespace std::chrono_literals;

std::wstring g_msis;

struct Recorder final : WindowEvents {
    int activations = 0;
    std::vector<int> clicks;
    std::function<void(int)> onClick;
    void Activate() override { ++activations; }
    void Click(int button) override {
        clicks.push_back(button);
        if (onClick) onClick(button);
    }
    void NodeCheck(TreeNode&) override {}
};

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        window.Create();
        window.SetEvents(&events);
        drv::SetMessageFilter([this](MSG& msg) { return window.PreTranslateMessage(msg); });
        window.Show(SW_SHOWNORMAL);
        ASSERT_TRUE(drv::PumpUntil([&] { return events.activations > 0; }, 5s));
        SetForegroundWindow(window.Hwnd());
        drv::PumpFor(50ms);
    }
    void TearDown() override {
        drv::SetMessageFilter({});
        window.Destroy();
        drv::PumpFor(20ms);
    }
    HWND Control(int id) { return window.Control(id); }
    bool FocusReaches(int id) { return drv::PumpUntil([&] { return GetFocus() == Control(id); }, 2s); }
    // Shows a box from this thread while another reads and answers it.
    drv::Box Show(const std::function<void()>& call) {
        drv::Box seen{};
        std::thread answer([&] {
            drv::PumpUntil([&] { return drv::FindMessageBox(GetCurrentProcessId()).has_value(); }, 5s);
            if (auto box = drv::FindMessageBox(GetCurrentProcessId())) {
                seen = *box;
                drv::PressOk(box->hwnd);
            }
        });
        call();
        answer.join();
        return seen;
    }

    MainWindow window{GetModuleHandleW(nullptr)};
    Recorder events;
};

TEST_F(Window, TabWalksRefreshTreeStartCancelAndNoKeyButSpacePressesAButton) {
    EXPECT_TRUE(FocusReaches(kCommand1Id));
    for (int id : {kTreeView1Id, kCommand2Id, kCommand3Id, kCommand1Id}) {
        drv::PressKey(VK_TAB);
        EXPECT_TRUE(FocusReaches(id)) << id;
    }
    for (int id : {kCommand1Id, kCommand2Id, kCommand3Id, kTreeView1Id}) {
        SetFocus(Control(id));
        drv::PressKey(VK_RETURN);
        drv::PressKey(VK_ESCAPE);
    }
    drv::PumpFor(300ms);
    EXPECT_TRUE(events.clicks.empty()) << "Enter or Escape pressed a button";
    SetFocus(Control(kCommand2Id));
    drv::PressKey(VK_SPACE);
    EXPECT_TRUE(drv::PumpUntil([&] { return events.clicks == std::vector<int>{2}; }, 2s));
}

TEST_F(Window, ActivationComesOnceWhateverComesAndGoes) {
    Show([&] { WindowShell([&] { return window.Hwnd(); }, [] {}).MsgBox(u"x", kMsgBoxOkOnly, std::nullopt); });
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 80, 40, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    drv::PumpFor(50ms);
    SetForegroundWindow(window.Hwnd());
    drv::PumpFor(100ms);
    DestroyWindow(other);
    drv::PumpFor(50ms);
    EXPECT_EQ(events.activations, 1);
}

TEST_F(Window, AnErrorInAHandlerEndsTheProgramWithItsReport) {
    events.onClick = [](int) { throw PlatformError(5, u"Access denied."); };
    SendMessageW(window.Hwnd(), WM_COMMAND, MAKEWPARAM(kCommand1Id, BN_CLICKED), 0);
    EXPECT_EQ(window.RunMessageLoop(), 1);
    ASSERT_TRUE(window.Failure());
    EXPECT_EQ(*window.Failure(), u"Access denied.");
    SendMessageW(window.Hwnd(), WM_COMMAND, MAKEWPARAM(kCommand2Id, BN_CLICKED), 0);
    EXPECT_EQ(events.clicks, std::vector<int>{1}) << "a handler ran after the failure";
    const drv::Box report = Show([&] { ShowErrorReport(nullptr, *window.Failure()); });
    EXPECT_EQ(report.title, L"Clearstrand");
    EXPECT_EQ(report.text, L"Access denied.");
    EXPECT_TRUE(report.icon);
}

TEST_F(Window, AnotherMonitorsDpiScalesTheDesign) {
    RECT frame{};
    GetWindowRect(window.Hwnd(), &frame);
    SendMessageW(window.Hwnd(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&frame));
    RECT client{}, tree{};
    GetClientRect(window.Hwnd(), &client);
    GetWindowRect(Control(kTreeView1Id), &tree);
    MapWindowPoints(nullptr, window.Hwnd(), reinterpret_cast<POINT*>(&tree), 2);
    // 7905 x 7515 twips, and the tree from 720, 1200 to 7215, 6255, at 144 DPI.
    EXPECT_EQ(std::vector<LONG>({client.right, client.bottom, tree.left, tree.top, tree.right, tree.bottom}),
              std::vector<LONG>({791, 752, 72, 120, 722, 626}));
}

TEST(Services, OnlyTheMonikersAndQueryTheProgramUsesAreServed) {
    auto service = MakeWmiManagementService();
    for (const char16_t* moniker :
         {u"winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\default:StdRegProv", u"WINMGMTS:\\\\.\\ROOT\\DEFAULT:stdregprov"}) {
        EXPECT_NO_THROW(service->GetRegistryProvider(moniker)) << ToUtf8(moniker);
    }
    for (const char16_t* moniker :
         {u"", u"winmgmts:\\\\.\\root\\cimv2", u"winmgmts:\\\\.\\root\\default:Other", u"winmgmts:\\\\.\\root\\cimv2:StdRegProv",
          u"winmgmts:{impersonationLevel=Delegate}!\\\\.\\root\\default:StdRegProv", u"winmgmts:\\.\\root\\default:StdRegProv",
          u"winmgmts:\\\\elsewhere\\root\\default:StdRegProv", u"winmgmts:\\\\.\\root\\default:StdRegProv:Extra"}) {
        EXPECT_THROW(service->GetRegistryProvider(moniker), PlatformError) << ToUtf8(moniker);
    }
    EXPECT_THROW(service->GetServices(u"winmgmts:\\\\.\\root\\default"), PlatformError);
    auto products = service->GetServices(u"winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2");
    EXPECT_NO_THROW(products->ExecQuery(u"select  *  from win32_product"));
    EXPECT_THROW(products->ExecQuery(u"SELECT Name FROM Win32_Product"), PlatformError);
}

TEST(Services, AProductUninstalledTwiceGivesTheInstallersCode) {
    ASSERT_EQ(drv::Run(L"msiexec /i \"" + g_msis + L"\\Tracemill_14.msi\" /qn"), 0u);
    const auto Find = [] {
        ProductCollection found;
        for (auto& product : MakeInstallerProducts()->ExecQuery(u"SELECT * FROM Win32_Product")) {
            if (product->Name() == u"Tracemill 14") found.push_back(std::move(product));
        }
        return found;
    };
    ProductCollection products = Find();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(products[0]->UnInstall(), 0);
    EXPECT_TRUE(Find().empty());
    EXPECT_EQ(products[0]->UnInstall(), 1605);  // ERROR_UNKNOWN_PRODUCT, as a code
}

}  // namespace
}  // namespace clearstrand::win32

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The program runs its services on an apartment thread; so do the tests.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (argc > 1) {
        std::string folder = argv[1];
        if (!folder.empty() && folder[0] == '/') folder = "Z:" + folder;
        std::replace(folder.begin(), folder.end(), '/', '\\');
        clearstrand::win32::g_msis.assign(folder.begin(), folder.end());
    }
    return RUN_ALL_TESTS();
}
