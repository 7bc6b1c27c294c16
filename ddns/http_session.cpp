#include "ddns/http_session.h"

#include <atomic>

namespace quarnel {
namespace {

std::atomic<long> connectSeconds{HttpTimeouts{}.connectSeconds};
std::atomic<long> stallSeconds{HttpTimeouts{}.stallSeconds};
std::atomic<long> totalSeconds{HttpTimeouts{}.totalSeconds};

}  // namespace

HttpTimeouts CurrentHttpTimeouts() {
    return {connectSeconds.load(), stallSeconds.load(), totalSeconds.load()};
}

void SetHttpTimeouts(const HttpTimeouts& timeouts) {
    connectSeconds = timeouts.connectSeconds;
    stallSeconds = timeouts.stallSeconds;
    totalSeconds = timeouts.totalSeconds;
}

}  // namespace quarnel
