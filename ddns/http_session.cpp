#include "ddns/http_session.h"

#include <curl/curl.h>

#include <atomic>
#include <mutex>

namespace quarnel {
namespace {

std::atomic<long> connectSeconds{HttpTimeouts{}.connectSeconds};
std::atomic<long> stallSeconds{HttpTimeouts{}.stallSeconds};
std::atomic<long> totalSeconds{HttpTimeouts{}.totalSeconds};

}  // namespace

bool EnsureHttpSession() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

HttpTimeouts CurrentHttpTimeouts() {
    return {connectSeconds.load(), stallSeconds.load(), totalSeconds.load()};
}

void SetHttpTimeouts(const HttpTimeouts& timeouts) {
    connectSeconds = timeouts.connectSeconds;
    stallSeconds = timeouts.stallSeconds;
    totalSeconds = timeouts.totalSeconds;
}

}  // namespace quarnel
