#include "service/check_in.h"

#include <string>

#include "ddns/endpoints.h"
#include "ddns/http_client.h"
#include "diagnostics/log.h"

namespace quarnel {

void CheckInThread(const WaitHandle& stop,
                   const std::function<std::int64_t(std::int64_t)>& random) {
    QLOG(kLogDebug, "CheckInThread", "Thread started");
    while (true) {
        const std::string url = "https://" + GetEndpoint(Endpoint::Website) + "/index.html";
        // The answer does not matter; the request itself is the check-in.
        (void)HttpRequestString(url, "HEAD", HttpFlagIdentify, {}, {}, {}, {});
        const std::int64_t pause = 43200000 + random(43200) * 1000;
        if (WaitForHandles(&stop, 1, pause, false) == kWaitObject0) {
            break;
        }
    }
    QLOG(kLogDebug, "CheckInThread", "Thread stopped");
}

}  // namespace quarnel
