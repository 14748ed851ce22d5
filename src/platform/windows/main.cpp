// The program: the window, Form1 and the platform services, and one message
// loop. Form1's handlers run from the window's events.

#include <windows.h>

#include <commctrl.h>

#include <exception>
#include <memory>

#include "app/form1.h"
#include "platform/windows/com_values.h"
#include "platform/windows/handles.h"
#include "platform/windows/main_window.h"
#include "platform/windows/shell.h"
#include "platform/windows/system_library.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/wmi_management.h"

namespace {

using namespace clearstrand;
using namespace clearstrand::win32;

class Form1Events final : public WindowEvents {
public:
    explicit Form1Events(Form1& form) : form_(form) {}

    void Activate() override { form_.Form_Activate(); }
    void Click(WindowButton button) override {
        switch (button) {
        case WindowButton::Refresh: return form_.Command1_Click();
        case WindowButton::Start: return form_.Command2_Click();
        case WindowButton::Cancel: return form_.Command3_Click();
        }
    }
    void NodeCheck(TreeNode& node) override { form_.TreeView1_NodeCheck(node); }

private:
    Form1& form_;
};

FormControls FormControlsOf(MainWindow& window) {
    return FormControls{window.Command1(), window.Command2(),   window.Command3(),
                        window.Label2(),   window.StatusBar1(), window.TreeView1()};
}

int Run(HINSTANCE instance, int showCommand) {
    ComInit com(COINIT_APARTMENTTHREADED);
    // The manifest's activation context makes this version 6 of the common
    // controls; they stay loaded while the window lives.
    const SystemLibrary commonControls(L"comctl32.dll");
    decltype(&InitCommonControlsEx) initCommonControls = nullptr;
    commonControls.Get(initCommonControls, "InitCommonControlsEx");
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    initCommonControls(&controls);

    auto management = MakeWmiManagementService();
    auto files = MakeWin32FileService();

    MainWindow window(instance);
    window.Create();
    WindowShell shell([&window] { return window.Hwnd(); }, [&window] { window.End(); });
    Form1 form(FormControlsOf(window), FormServices{*management, *files, shell});
    Form1Events events(form);
    window.SetEvents(&events);

    // The disclaimer comes before the window is seen.
    form.Form_Load();
    window.Show(showCommand);
    const int code = window.RunMessageLoop();
    if (const auto failure = window.Failure()) {
        // Over the window, which runs no handler any more, before it goes.
        ShowErrorReport(window.Hwnd(), *failure);
        window.Destroy();
        return 1;
    }
    return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Before anything loads a library. Where the system cannot restrict the
    // search, the program's own folder would come first for every library
    // loaded by name, the installer's included: it does not run at all.
    if (!LoadLibrariesOnlyFromSystemFolder()) {
        ShowErrorReport(nullptr, kProgramName + std::u16string(u" cannot make Windows load its libraries only from the system "
                                                               u"folder, and does not run without that. On Windows 7, "
                                                               u"install update KB2533623."));
        return 1;
    }
    try {
        return Run(instance, showCommand);
    } catch (...) {
        ShowErrorReport(nullptr, DescribeException(std::current_exception()));
        return 1;
    }
}
