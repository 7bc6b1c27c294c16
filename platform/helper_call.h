#pragma once

// Work that the program does not do in its own address space: network transfers and
// cryptography run in a small helper executable, one process per call, without root and behind
// a system-call filter, so the long-lived service maps neither libcurl nor OpenSSL and never
// parses a remote server's bytes itself.
//
// The call: the helper's standard input carries one byte, the operation, then the request bytes
// until end of file (credentials travel only here, never on a command line or in the
// environment). Its standard output carries frames (see platform/helper_call_frames.h): any
// number of progress frames, then exactly one answer frame, then end of file; the helper then
// exits with status 0. Anything else is no answer.
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
        6,  // CMS check of a file against the pinned certificate (update/file_signature)
};

struct HelperCall {
    HelperOperation operation = HelperOperation::Transfer;
    std::string request;  // the operation's input bytes; the helper reads them from its pipe
    // Open files handed to the helper as fd 3, 4, ... (a download target, a file to verify and
    // its signature); nothing else is inherited.
    std::vector<int> descriptors;
    std::chrono::milliseconds deadline{120000};  // the helper is killed (SIGKILL) after this
    std::size_t answerLimit = 1 << 20;           // a longer answer is a failure
    // StopNetworkExchanges (platform/exchange_stop.h) kills it promptly, and no helper starts
    // while exchanges are stopped.
    bool stoppable = true;
};

// Frames the helper sends before its answer (transfers report progress through them); called
// on the calling thread, must not throw.
using HelperProgress = std::function<void(std::string_view frame)>;

// The helper's answer bytes, or nothing: helper missing or not executable (logged once at ERROR,
// naming the path), exit other than success, killed by a signal (crash, seccomp), deadline,
// answer over the limit, malformed frames, or stopped. Never throws; never leaves a zombie.
std::optional<std::string> CallHelper(const HelperCall& call,
                                      const HelperProgress& onProgress = {});

// While one of these lives, a helper is started ahead of the next CallHelper (at once, and again
// as each call takes it), so that its program loading, most of a helper's start, overlaps the
// caller's other work. A call that hands over descriptors starts its own. The helper waiting
// when the last scope ends is dismissed: its input closes, on which it exits at once and
// silently (killed if it does not within 200 ms), so none lingers after an update cycle.
class PreparedHelpers {
  public:
    PreparedHelpers();
    ~PreparedHelpers();
    PreparedHelpers(const PreparedHelpers&) = delete;
    PreparedHelpers& operator=(const PreparedHelpers&) = delete;
};

// The path CallHelper starts (see above); empty when none can be named.
std::string HelperPath();

}  // namespace quarnel
