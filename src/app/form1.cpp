#include "app/form1.h"

namespace clearstrand {

namespace {

constexpr char16_t kCr = u'\r';  // the toolkit breaks lines on a carriage return alone

const std::u16string kDisclaimer =
    std::u16string(u"In no event shall Veltramark be liable for any types of damages whatsoever "
                   u"(including without") +
    kCr +
    u"limitation damages resulting from loss of use, loss of data, loss of profits, or loss of "
    u"business)" +
    kCr + u"arising out of this application or service." + kCr + kCr +
    u"Veltramark recommends that you back up all data and files on the system before using this "
    u"utility.";

const std::u16string kInstructions =
    std::u16string(u"Remove selected versions of Veltramark and Veltramark products.") + kCr + kCr +
    u"Check the versions to remove, then Click Start to begin un-install process." + kCr +
    u"The application, Windows registry settings, and program folder will be removed.";

constexpr char16_t kWorking[] = u"Working...";

}  // namespace

Form1::Form1(FormControls controls, FormServices services)
    : controls(controls), services(services) {}

void Form1::Form_Load() {
    // The answer is not looked at: start-up always goes on.
    resultCode = services.shell.MsgBox(kDisclaimer, kMsgBoxOkOnly + kMsgBoxExclamation,
                                       std::u16string(kProgramName));
    controls.Command1.SetEnabled(false);
    controls.Command2.SetEnabled(false);
    controls.Label2.SetCaption(kInstructions);
    controls.StatusBar1.Item(1).SetBevel(kPanelNoBevel);
    statusPanel = &controls.StatusBar1.Add();
    statusPanel->SetAutoSize(kPanelSpring);
    statusPanel->SetText(kReady);
    controls.Command1.SetEnabled(true);
}

void Form1::Form_Activate() {
    statusPanel->SetText(kWorking);
    PopulateTreeview();
    statusPanel->SetText(kReady);
}

void Form1::Command1_Click() {
    controls.Command1.SetEnabled(false);
    // A rebuilt tree has no check marks, so Start stays off until one is set.
    controls.Command2.SetEnabled(false);
    statusPanel->SetText(kWorking);
    PopulateTreeview();
    statusPanel->SetText(kReady);
    controls.Command1.SetEnabled(true);
}

void Form1::Command3_Click() { services.shell.End(); }

}  // namespace clearstrand
