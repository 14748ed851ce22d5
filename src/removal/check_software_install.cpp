#include <optional>

#include "app/form1.h"
#include "platform/errors.h"

namespace clearstrand {

namespace {

constexpr int32_t kSuccessRebootRequired = 3010;
constexpr int32_t kSuccessRebootInitiated = 1641;

// The installer reports a removal that needs a restart with these codes; the
// product is gone all the same.
bool IsUninstalled(int32_t code) {
    return code == 0 || code == kSuccessRebootRequired || code == kSuccessRebootInitiated;
}

}  // namespace

void Form1::CheckSoftwareInstall(std::u16string strArg) {
    const auto cim = services.management.GetServices(std::u16string(kProductsMoniker));
    products = cim->ExecQuery(std::u16string(kProductQuery));

    for (const auto& product : products) {
        const std::u16string name = product->Name();
        if (name.empty() || name != strArg) continue;

        // The last uninstall entry with this display name decides the folder,
        // even when it records none.
        installLocation.clear();
        for (const auto& row : installedProducts) {
            if (row[1] == strArg) installLocation = row[3];
        }

        // A failure with one product is told, and the next product of that
        // name is still taken: it would otherwise stay without a word.
        try {
            statusPanel->SetText(u"Uninstalling " + strArg);
            resultCode = product->UnInstall();
        } catch (const PlatformError& error) {
            ReportFailure(kFailedToUninstall, error, strArg);
            continue;
        }
        if (!IsUninstalled(resultCode)) {
            services.shell.MsgBox(kFailedToUninstall + strArg, kMsgBoxOkOnly, std::nullopt);
            continue;
        }
        if (installLocation.empty()) continue;

        statusPanel->SetText(u"Deleting " + installLocation);
        try {
            EraseFolder(installLocation);
        } catch (const PlatformError& error) {
            ReportFailure(kFailedToDelete, error, installLocation);
        }
    }
}

}  // namespace clearstrand
