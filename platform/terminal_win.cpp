#include <io.h>
#include <windows.h>

#include "platform/terminal.h"

namespace quarnel {
namespace {

// One hidden input at a time: the console and the mode that the control handler restores.
HANDLE hiddenConsole = nullptr;
DWORD savedMode = 0;

// Ctrl+C and Ctrl+Break end the process by default; the console gets its echo back first.
BOOL WINAPI RestoreOnControl(DWORD /*event*/) {
    if (hiddenConsole != nullptr) {
        ::SetConsoleMode(hiddenConsole, savedMode);
    }
    return FALSE;  // the next handler (the default one) ends the process
}

}  // namespace

bool IsTerminal(int fd) {
    DWORD mode = 0;
    return ::_isatty(fd) != 0 &&
           ::GetConsoleMode(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), &mode);
}

HiddenInput::HiddenInput(int fd) {
    const HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    if (hiddenConsole != nullptr || !::GetConsoleMode(console, &mode)) {
        return;
    }
    savedMode = mode;
    hiddenConsole = console;
    owner_ = true;
    ::SetConsoleCtrlHandler(RestoreOnControl, TRUE);
    active_ = ::SetConsoleMode(console, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
}

HiddenInput::~HiddenInput() {
    if (!owner_) {
        return;
    }
    ::SetConsoleMode(hiddenConsole, savedMode);
    ::SetConsoleCtrlHandler(RestoreOnControl, FALSE);
    hiddenConsole = nullptr;
}

}  // namespace quarnel
