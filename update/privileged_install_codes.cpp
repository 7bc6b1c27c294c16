#include "update/privileged_install.h"

namespace quarnel {
namespace {

// A refusal's exit code is its outcome above this (0 and 1 keep their usual meaning).
constexpr int kExitCodeOffset = 10;

}  // namespace

int PrivilegedInstallExitCode(DownloadOutcome outcome) {
    return outcome == DownloadOutcome::Installing ? 1 : kExitCodeOffset + static_cast<int>(outcome);
}

DownloadOutcome PrivilegedInstallOutcome(int exitCode) {
    if (exitCode == 1) {
        return DownloadOutcome::Installing;
    }
    if (exitCode == 126 || exitCode == 127) {
        return DownloadOutcome::NotAuthorized;
    }
    const int value = exitCode - kExitCodeOffset;
    if (value > static_cast<int>(DownloadOutcome::Installing) &&
        value <= static_cast<int>(DownloadOutcome::Cancelled)) {
        return static_cast<DownloadOutcome>(value);
    }
    return DownloadOutcome::InstallFailed;
}

}  // namespace quarnel
