#pragma once

// The one QApplication of the test program, on the offscreen platform.

#include <functional>

namespace quarnel::test {

void EnsureQtApplication();
// Leak-checker suppressions for the system libraries under Qt on a desktop (fontconfig's caches,
// libdbus's connection attempt without a session bus): their allocations live as long as the
// process and are not the program's. The sanitizer build reads them for this test program, and
// tests hand them to the programs they start on a display.
inline constexpr const char* kDesktopLibraryLeaks = "leak:libfontconfig.so\nleak:libdbus-1.so\n";

// Runs queued events until condition holds; false when it does not within timeoutMs.
bool ProcessEventsUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

}  // namespace quarnel::test
