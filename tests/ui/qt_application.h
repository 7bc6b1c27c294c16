#pragma once

// The one QApplication of the test program, on the offscreen platform.

#include <functional>

namespace quarnel::test {

void EnsureQtApplication();
// Runs queued events until condition holds; false when it does not within timeoutMs.
bool ProcessEventsUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

}  // namespace quarnel::test
