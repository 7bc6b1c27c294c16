// quarnel-updater-helper: runs one operation for the program, out of its address space and
// without root (see platform/helper_call.h for the exchange). It reads the operation byte,
// prepares what only root can read, drops privileges, installs its system-call filter, then
// reads the request, answers and exits. Any failure is a non-zero exit and no answer.

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "helper/crypto_operations.h"
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

// The operation byte; 0 when the input ended before one (a helper started ahead of a call that
// never came), nothing when it cannot be read.
std::optional<std::uint8_t> ReadOperation() {
    std::uint8_t operation = 0;
    while (true) {
        const ssize_t got = ::read(0, &operation, 1);
        if (got == 1) {
            return operation;
        }
        if (got == 0) {
            return 0;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return std::nullopt;
    }
}

int Fail(const char* why) {
    std::fprintf(stderr, "quarnel-updater-helper: %s\n", why);
    return 1;
}

int Run() {
    const std::optional<std::uint8_t> code = ReadOperation();
    if (!code) {
        return Fail("no operation");
    }
    if (*code == 0) {
        return 0;  // dismissed before any work: nothing to say
    }
    const auto operation = static_cast<HelperOperation>(*code);
    const bool transfer = operation == HelperOperation::Transfer;
    // A private certificate authority's file may be readable by root only.
    TransferPreparation preparation;
    if (transfer) {
        preparation = PrepareTransfer();
    }
    if (!DropPrivileges()) {
        return Fail("cannot drop privileges");
    }
    if (!InstallSyscallFilter(transfer ? FilterProfile::Network : FilterProfile::Compute)) {
        return Fail("cannot install the system-call filter");
    }
    const std::optional<std::string> request = ReadRequest(kRequestLimit);
    if (!request) {
        return Fail("unreadable request");
    }
    std::optional<std::string> answer;
    switch (operation) {
        case HelperOperation::Transfer:
            answer = RunTransferOperation(*request, preparation);
            break;
        case HelperOperation::Encrypt:
        case HelperOperation::Decrypt:
        case HelperOperation::Md5:
        case HelperOperation::Sha1:
        case HelperOperation::VerifySignature:
            answer = RunCryptoOperation(operation, *request);
            break;
        default:
#ifdef QUARNEL_HELPER_TEST_OPERATIONS
            answer = RunTestOperation(*code, *request);
#endif
            break;
    }
    if (!answer) {
        return 1;
    }
    return SendFrame(kHelperAnswerFrame, *answer) ? 0 : 1;
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
