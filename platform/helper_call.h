#pragma once

// Work that the program does not do in its own address space: network transfers, DNS queries and
// cryptography run in a small helper executable, without root and behind a system-call filter
// and a file-access restriction, so the long-lived service maps neither libcurl nor OpenSSL and
// never parses a byte that a remote server sent: all it reads from a helper are the frames of
// platform/helper_call_frames.h, and every answer it takes from them is checked again by the
// operation's caller-side code (a transfer's figures, a DNS answer's address or name).
//
// A call starts a helper for itself, or, inside a HelperSession on the same thread, hands its
// operation to the session's helper, which serves the operations of that thread one after the
// other. Credentials travel only in the requests, never on a command line or in the
// environment. The helper holds no terminal and none of the caller's descriptors (standard input
// and output are its channels, standard error is /dev/null), runs in a session of its own, ends
// when the thread that started it ends (it checks that its parent is still that caller before it
// does anything), and leaves nothing it writes anywhere but its channels and the descriptors a
// call hands over.
//
// The helper is `$QUARNEL_HELPER` when set (tests), else quarnel-updater-helper in the folder of
// this program, else <that folder>/../libexec/quarnel-updater/quarnel-updater-helper (the
// installed layout). Its environment holds only the proxy variables (*_proxy) and SSL_CERT_FILE /
// SSL_CERT_DIR (and GNUTLS_NO_IMPLICIT_INIT=1, which spares it a library set-up it never uses).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

enum class HelperOperation : std::uint8_t {
    Transfer = 1,  // one HTTP exchange (ddns/http_client's Linux implementation)
    Encrypt = 2,   // AES-256-CBC with ciphertext stealing (settings/protection)
    Decrypt = 3,
    Md5 = 4,  // digests (settings/protection key derivation, ddns/identity_digests)
    Sha1 = 5,
    VerifySignature =
        6,         // CMS check of a file against the pinned certificate (update/file_signature)
    DnsQuery = 7,  // one A query (ddns/dns_query)
};

struct HelperCall {
    HelperOperation operation = HelperOperation::Transfer;
    std::string request;  // the operation's input bytes
    // Open files handed to the helper as fd 3, 4, ... (a download target, a file to verify and
    // its signature); nothing else is inherited. A call that hands over files starts a helper of
    // its own, also inside a session.
    std::vector<int> descriptors;
    std::chrono::milliseconds deadline{120000};  // the helper is killed (SIGKILL) after this
    std::size_t answerLimit = 1 << 20;           // a longer answer is a failure
    // The operation needs the network profile of the helper's sandbox (sockets); a session's
    // helper always has it.
    bool network = false;
    // StopNetworkExchanges (platform/exchange_stop.h) kills the helper at once, and no helper
    // starts while exchanges are stopped.
    bool stoppable = true;
};

// Frames the helper sends before its answer (transfers report progress through them); called
// on the calling thread, must not throw.
using HelperProgress = std::function<void(std::string_view frame)>;

// The helper's answer bytes, or nothing: helper missing or not executable (also told once to the
// system log, naming the path), exit other than success, killed by a signal (crash, seccomp),
// deadline, answer over the limit, malformed frames, a failure it reported, or stopped. Every
// such failure but the stop is reported once to the HelperReporter. Never throws; never leaves
// a zombie.
std::optional<std::string> CallHelper(const HelperCall& call,
                                      const HelperProgress& onProgress = {});

// Where CallHelper's reports go (the program sets the debug log): a failure of a helper call, with
// what happened, and a helper's notice (said once per process).
enum class HelperReport { Failure, Notice };
using HelperReporter = void (*)(HelperReport kind, std::string_view message);
void SetHelperReporter(HelperReporter reporter);
// Reports a failure that an operation's caller found in an answer CallHelper returned.
void ReportHelperFailure(std::string_view message);

// While one of these lives, the CallHelper calls of this thread that hand over no files share
// one helper, started at once (so that its loading overlaps the caller's other work) and again
// after one that failed. When the last scope of the thread ends, the helper's input closes, on
// which it exits at once (killed if it has not within 200 ms): none outlives the session.
class HelperSession {
  public:
    HelperSession();
    ~HelperSession();
    HelperSession(const HelperSession&) = delete;
    HelperSession& operator=(const HelperSession&) = delete;
};

// The path CallHelper starts (see above); empty when none can be named.
std::string HelperPath();

}  // namespace quarnel
