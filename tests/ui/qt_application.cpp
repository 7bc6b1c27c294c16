#include "tests/ui/qt_application.h"

#include <QApplication>
#include <chrono>
#include <cstdlib>

// Read by the leak checker of the sanitizer build at start; unused otherwise.
extern "C" const char* __lsan_default_suppressions() {
    return quarnel::test::kDesktopLibraryLeaks;
}

namespace quarnel::test {

void EnsureQtApplication() {
    // Made once and never destroyed: tearing Qt down after main has returned would race the
    // destruction of its own globals.
    static QApplication* application = nullptr;
    if (application != nullptr) {
        return;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ui_test";
    static char* argv[] = {name, nullptr};
    application = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // A window closed by a test is deleted later, by an event loop that never comes. Qt 6.8 sends
    // such events when its thread data goes at exit, after the platform plugin has gone, and the
    // window's destructor then crashes the test program: delete them while everything stands.
    std::atexit([] { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); });
}

bool ProcessEventsUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace quarnel::test
