#pragma once

// The program runs elevated, often from a Downloads folder where any web page
// can leave a file: it loads code only from the system folder. It imports
// statically only the libraries Windows protects as known DLLs, and loads the
// others (the installer, the common controls) here, when first needed.

#include <windows.h>

#include "platform/windows/handles.h"

namespace clearstrand::win32 {

// Makes the system folder the only place the process loads libraries from by
// name, for the program and for the system's libraries on its behalf. Must
// run before anything else loads one. False when the system cannot do it.
bool LoadLibrariesOnlyFromSystemFolder();

// A library of the system folder, loaded for this owner's life.
class SystemLibrary {
public:
    // Raises PlatformError when the library cannot be loaded.
    explicit SystemLibrary(const wchar_t* name);

    // Sets `function` to the library's export `name`; raises if there is none.
    template <typename Function>
    void Get(Function& function, const char* name) const {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(Address(name)));
    }

private:
    FARPROC Address(const char* name) const;

    UniqueModule module_;
};

}  // namespace clearstrand::win32
