// quarnel-updater-helper: runs operations for the program, out of its address space and without
// root (see platform/helper_call.h and platform/helper_call_frames.h for the exchange). It makes
// sure it ends with its caller, reads the profile byte, prepares what only root can read, drops
// privileges, restricts its file access and installs its system-call filter, then answers the
// operations that arrive until its input ends. Its standard error leads nowhere: what it has to
// say goes back in frames.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "helper/crypto_operations.h"
#include "helper/dns_operation.h"
#include "helper/file_access.h"
#include "helper/operation_io.h"
#include "helper/privileges.h"
#include "helper/syscall_filter.h"
#include "helper/transfer_operation.h"
#include "platform/helper_call.h"
#include "platform/helper_call_frames.h"

#ifdef QUARNEL_HELPER_TEST_OPERATIONS
#include "helper/test_operations.h"
#endif

namespace quarnel {
namespace {

// The largest request any operation takes (an upload body, a text to encrypt).
constexpr std::size_t kRequestLimit = std::size_t{16} << 20;

int Fail(const std::string& why) {
    (void)SendFrame(kHelperFailureFrame, why);
    return 1;
}

// The helper ends when its caller does (SIGKILL), and does not begin at all when the caller is
// already gone: the caller made the socket of standard input, so its process must still be the
// parent. (Input that is no socket, from a stand-in that wraps the helper, names no caller.) A
// change of the process's ids clears the signal, so this runs again once privileges are dropped.
bool BoundToCaller() {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) {
        return false;
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(0, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        return errno == ENOTSOCK;
    }
    return peer.pid > 0 && ::getppid() == peer.pid;
}

bool IsNetworkOperation(char kind) {
    const auto operation = static_cast<HelperOperation>(kind);
    return operation == HelperOperation::Transfer || operation == HelperOperation::DnsQuery;
}

std::optional<std::string> RunOperation(char kind, const std::string& request,
                                        TransferSession& transfers) {
    const auto operation = static_cast<HelperOperation>(kind);
    switch (operation) {
        case HelperOperation::Transfer:
            return RunTransferOperation(request, transfers);
        case HelperOperation::DnsQuery:
            return RunDnsQueryOperation(request);
        case HelperOperation::Encrypt:
        case HelperOperation::Decrypt:
        case HelperOperation::Md5:
        case HelperOperation::Sha1:
        case HelperOperation::VerifySignature:
            return RunCryptoOperation(operation, request);
    }
#ifdef QUARNEL_HELPER_TEST_OPERATIONS
    return RunTestOperation(static_cast<std::uint8_t>(kind), request);
#else
    return std::nullopt;
#endif
}

int Run() {
    if (!BoundToCaller()) {
        return Fail("the caller is gone or unknown");
    }
    const std::optional<char> profile = ReadProfile();
    if (!profile) {
        return Fail("no profile");
    }
    if (*profile == 0) {
        return 0;  // dismissed before any work: nothing to say
    }
    const bool network = *profile == kHelperProfileNetwork;
    if (!network && *profile != kHelperProfileCompute) {
        return Fail("unknown profile");
    }
    // A private certificate authority's file may be readable by root only.
    TransferSession transfers;
    if (network) {
        transfers = PrepareTransfers();
    }
    if (!DropPrivileges() || !BoundToCaller()) {
        return Fail("cannot drop privileges");
    }
    const FileAccess access = RestrictFileAccess();
    if (access == FileAccess::Failed) {
        return Fail("cannot restrict its file access");
    }
    if (!InstallSyscallFilter(network ? FilterProfile::Network : FilterProfile::Compute)) {
        return Fail("cannot install the system-call filter");
    }
    if (access == FileAccess::Unavailable &&
        !SendFrame(kHelperNoticeFrame,
                   "the kernel offers no Landlock: the helper's file access is not restricted "
                   "beyond its system-call filter")) {
        return 1;
    }
    while (true) {
        bool ended = false;
        const std::optional<OperationFrame> frame = ReadOperationFrame(kRequestLimit, ended);
        if (!frame) {
            return ended ? 0 : Fail("unreadable request");
        }
        if (!network && IsNetworkOperation(frame->kind)) {
            return Fail("a network operation in the compute profile");
        }
        const std::optional<std::string> answer =
            RunOperation(frame->kind, frame->request, transfers);
        if (!answer) {
            return Fail("operation " + std::to_string(static_cast<unsigned char>(frame->kind)) +
                        " failed");
        }
        if (!SendFrame(kHelperAnswerFrame, *answer)) {
            return 1;
        }
    }
}

}  // namespace
}  // namespace quarnel

#if defined(__SANITIZE_ADDRESS__)
// The leak check at exit runs under ptrace, which the system-call filter rightly forbids; the
// sanitizer builds check the same code for leaks in the test programs that link it.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
#endif

int main() {
    return quarnel::Run();
}
