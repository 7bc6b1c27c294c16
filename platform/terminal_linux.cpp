#include <signal.h>
#include <stddef.h>
#include <termios.h>
#include <unistd.h>

#include "platform/terminal.h"

namespace quarnel {
namespace {

// One hidden input at a time: the state the signal handler restores.
int hiddenFd = -1;
struct termios savedSettings = {};
constexpr int kRestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
struct sigaction previousActions[sizeof kRestoredSignals / sizeof kRestoredSignals[0]];

void RestoreAndRaise(int signal) {
    // Only async-signal-safe calls here.
    if (hiddenFd >= 0) {
        ::tcsetattr(hiddenFd, TCSANOW, &savedSettings);
    }
    struct sigaction defaultAction = {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signal, &defaultAction, nullptr);
    ::raise(signal);
}

}  // namespace

bool IsTerminal(int fd) {
    return ::isatty(fd) == 1;
}

HiddenInput::HiddenInput(int fd) {
    struct termios settings = {};
    if (hiddenFd >= 0 || ::tcgetattr(fd, &settings) != 0) {
        return;
    }
    savedSettings = settings;
    hiddenFd = fd;
    owner_ = true;
    struct sigaction action = {};
    action.sa_handler = RestoreAndRaise;
    ::sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof kRestoredSignals / sizeof kRestoredSignals[0]; ++i) {
        ::sigaction(kRestoredSignals[i], &action, &previousActions[i]);
    }
    settings.c_lflag &= static_cast<tcflag_t>(~ECHO);
    settings.c_lflag |= ECHONL;
    active_ = ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

HiddenInput::~HiddenInput() {
    if (!owner_) {
        return;
    }
    ::tcsetattr(hiddenFd, TCSANOW, &savedSettings);
    for (size_t i = 0; i < sizeof kRestoredSignals / sizeof kRestoredSignals[0]; ++i) {
        ::sigaction(kRestoredSignals[i], &previousActions[i], nullptr);
    }
    hiddenFd = -1;
}

}  // namespace quarnel
