#pragma once

namespace clearstrand::win32 {

// Called often during long work on the window's thread (an uninstall, an
// erase, a registry deletion): at most every 100 ms it handles the messages
// that the system and other programs send the thread and repaints, so that
// the window answers and is never taken for hung. Input and posted messages
// stay queued, in their order, until the work ends and the message loop
// takes them. Called from the system's callbacks: nothing leaves it by an
// exception (the window's procedure lets none out).
void KeepAnswering() noexcept;

}  // namespace clearstrand::win32
