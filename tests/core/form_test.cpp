#include <gtest/gtest.h>

#include "core/discovery_support.h"

namespace clearstrand {
namespace {

using namespace testing_support;
using Events = std::vector<std::string>;

// Events of the controls only, without the registry's calls.
Events ControlEvents(const EventLog& log) {
    Events out;
    for (const auto& e : log.events) {
        if (e.rfind("registry: ", 0) != 0) out.push_back(e);
    }
    return out;
}

const std::u16string kDisclaimer =
    u"In no event shall Veltramark be liable for any types of damages whatsoever (including without\r"
    u"limitation damages resulting from loss of use, loss of data, loss of profits, or loss of business)\r"
    u"arising out of this application or service.\r"
    u"\r"
    u"Veltramark recommends that you back up all data and files on the system before using this utility.";

const std::u16string kInstructions =
    u"Remove selected versions of Veltramark and Veltramark products.\r\r"
    u"Check the versions to remove, then Click Start to begin un-install process.\r"
    u"The application, Windows registry settings, and program folder will be removed.";

TEST(FormStartup, ConstructionTouchesNothing) {
    MemoryPlatform p;
    EXPECT_TRUE(p.log.events.empty());
    EXPECT_EQ(p.form().statusPanel, nullptr);
    EXPECT_TRUE(p.management.monikers.empty());
}

TEST(FormStartup, LoadShowsTheDisclaimerFirstThenSetsUpTheWindow) {
    MemoryPlatform p;
    p.form().Form_Load();
    EXPECT_EQ(p.log.events,
              (Events{"MsgBox " + ToUtf8(kDisclaimer), "Command1.Enabled=0", "Command2.Enabled=0",
                      "Label2.Caption=" + ToUtf8(kInstructions), "Panel1.Bevel=0",
                      "StatusBar1.Panels.Add", "Panel2.AutoSize=1", "status=Ready",
                      "Command1.Enabled=1"}));
    ASSERT_EQ(p.shell.boxes.size(), 1u);
    const MsgBoxRecord& box = p.shell.boxes[0];
    EXPECT_EQ(box.prompt, kDisclaimer);
    EXPECT_EQ(box.prompt.find(u'\n'), std::u16string::npos);
    EXPECT_EQ(box.buttons, 48);
    EXPECT_EQ(box.title, std::optional<std::u16string>(u"Clearstrand"));
    EXPECT_EQ(p.label2.Caption(), kInstructions);
    EXPECT_EQ(p.label2.Caption().find(u'\n'), std::u16string::npos);

    ASSERT_EQ(p.statusBar.Count(), 2);
    EXPECT_EQ(p.form().statusPanel, &p.statusBar.Item(2));
    EXPECT_EQ(p.statusBar.Item(1).Text(), u"");
    EXPECT_EQ(p.statusBar.Item(1).Bevel(), kPanelNoBevel);
    EXPECT_EQ(p.statusBar.Item(2).AutoSize(), kPanelSpring);
    EXPECT_TRUE(p.command1.Enabled());
    EXPECT_FALSE(p.command2.Enabled());
    EXPECT_TRUE(p.command3.Enabled());
    EXPECT_EQ(p.tree.Nodes().Count(), 0);  // the tree waits for activation
}

TEST(FormStartup, ActivationRebuildsTheTreeBetweenWorkingAndReady) {
    MemoryPlatform p;
    SeedFullMachine(p.registry);
    p.form().Form_Load();
    p.log.events.clear();
    p.form().Form_Activate();
    ASSERT_GE(p.log.events.size(), 3u);
    EXPECT_EQ(p.log.events.front(), "status=Working...");
    EXPECT_EQ(p.log.events[1], "registry: EnumKey -2147483646 SOFTWARE");
    EXPECT_EQ(p.log.events.back(), "status=Ready");
    EXPECT_EQ(ControlEvents(p.log), (Events{"status=Working...", "status=Ready"}));
    EXPECT_EQ(p.tree.Nodes().Count(), 17);
    EXPECT_EQ(p.status(), u"Ready");
}

TEST(FormButtons, RefreshDropsCheckMarksAndShowsWhatIsLeft) {
    MemoryPlatform p;
    SeedFullMachine(p.registry);
    p.form().Form_Load();
    p.form().Form_Activate();
    p.tree.UserToggle(p.tree.Nodes().Item(1));
    ASSERT_TRUE(p.command2.Enabled());
    p.registry.DeleteTree(kHiveLocalMachine, u"SOFTWARE\\QBEL");
    p.log.events.clear();

    p.form().Command1_Click();
    EXPECT_EQ(ControlEvents(p.log),
              (Events{"Command1.Enabled=0", "Command2.Enabled=0", "status=Working...",
                      "status=Ready", "Command1.Enabled=1"}));
    EXPECT_EQ(p.log.events[3], "registry: EnumKey -2147483646 SOFTWARE");
    EXPECT_EQ(p.tree.Nodes().Count(), 16);
    EXPECT_EQ(p.tree.Find(u"QBEL"), nullptr);
    p.tree.Nodes().ForEach([](TreeNode& n) { EXPECT_FALSE(n.Checked()) << ToUtf8(n.Key()); });
    EXPECT_TRUE(p.command1.Enabled());
    EXPECT_FALSE(p.command2.Enabled());
}

TEST(FormButtons, CancelEndsAtOnceWithoutAPrompt) {
    MemoryPlatform p;
    p.form().Form_Load();
    p.log.events.clear();
    p.form().Command3_Click();
    EXPECT_TRUE(p.shell.ended);
    EXPECT_EQ(p.log.events, (Events{"End"}));
    EXPECT_EQ(p.shell.boxes.size(), 1u);  // the disclaimer only
}

TEST(FormButtons, PopulationFailuresLeaveTheHandlerUncaught) {
    MemoryPlatform p;
    p.form().Form_Load();
    p.registry.FailCall("EnumKey -2147483646 SOFTWARE");
    EXPECT_THROW(p.form().Command1_Click(), PlatformError);
    EXPECT_EQ(p.status(), u"Working...");
    EXPECT_FALSE(p.command1.Enabled());
    EXPECT_THROW(p.form().Form_Activate(), PlatformError);
    EXPECT_EQ(p.status(), u"Working...");
}

}  // namespace
}  // namespace clearstrand
