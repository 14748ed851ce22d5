#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/management.h"
#include "platform/tree.h"

namespace clearstrand {

class FolderRule;

struct FormControls {
    CommandButton& Command1;  // "Refresh"
    CommandButton& Command2;  // "Start"
    CommandButton& Command3;  // "Cancel"
    Label& Label2;
    StatusBar& StatusBar1;
    TreeView& TreeView1;
};

struct FormServices {
    ManagementService& management;
    FileService& files;
    Shell& shell;
};

// The status text of a window waiting for the user.
inline constexpr char16_t kReady[] = u"Ready";

// The prefixes of the boxes that name what a removal could not do.
inline constexpr char16_t kFailedToDelete[] = u"Failed to delete ";
inline constexpr char16_t kFailedToUninstall[] = u"Failed to uninstall ";

// One row of installedProducts: subkey name, DisplayName, DisplayVersion,
// InstallLocation.
using ProductRow = std::array<std::u16string, 4>;

// The main window. Handlers and operations live in the file of their
// subsystem: app/ (start-up, buttons, propagation), discovery/ (population)
// and removal/ (the removal run and its operations).
class Form1 {
public:
    Form1(FormControls controls, FormServices services);

    // Handlers.
    void Form_Load();
    void Form_Activate();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void TreeView1_NodeCheck(TreeNode& node);

    // Operations.
    void PopulateTreeview();
    void CheckSoftwareInstall(std::u16string strArg);
    void EraseFolder(std::u16string folder);
    // Below the folder EraseFolder opened, the walk goes on from each
    // opened folder rather than by its path.
    void EraseFolder(Folder& current);
    void CheckRegistryKey(std::u16string str);
    int32_t DeleteRegistryKey(int32_t HKEY, std::u16string regKey);
    // A failure the platform raised, in a message box: `prefix`, the path it
    // is about or else `subject`, and the system's reason on a line of its own.
    void ReportFailure(std::u16string_view prefix, const PlatformError& error, std::u16string_view subject = {});

    // Window-level state.
    Panel* statusPanel = nullptr;
    std::vector<ProductRow> installedProducts;
    std::u16string entryKeyName;
    std::u16string displayName;
    std::u16string displayVersion;
    std::u16string installLocation;
    int32_t resultCode = 0;  // shared by every platform call that returns a code
    ProductCollection products;  // the last product query's result, held until the next
    // The folders no program folder may take, read at a removal run's first
    // folder and kept for the rest of the run.
    std::shared_ptr<const FolderRule> folderRule;

    FormControls controls;
    FormServices services;
};

}  // namespace clearstrand
