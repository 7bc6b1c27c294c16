// The two thin forms of the HTTP request: answer as text, answer into a file.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ddns/answer_text.h"
#include "ddns/http_client.h"
#include "platform/file_io.h"

namespace quarnel {

std::string HttpRequestString(std::string_view url, std::string_view method, std::uint32_t flags,
                              std::string_view user, std::string_view password,
                              std::string_view headers, std::string_view body,
                              std::string_view userAgent, std::int64_t context,
                              const HttpRequestCallback& onRequest,
                              const HttpProgressCallback& onProgress,
                              const HttpCompleteCallback& onComplete) {
    const std::optional<HttpBuffer> answer =
        HttpRequestMemory(url, method, flags, user, password, headers, body, userAgent, context,
                          onRequest, onProgress, onComplete);
    if (!answer) {
        return {};
    }
    if ((flags & HttpFlagHeaders) != 0) {
        // The block is ASCII in practice; anything else must not leave invalid UTF-8 behind.
        return DecodeUtf8Answer(*answer);
    }
    if ((flags & HttpFlagUnicode) != 0) {
        return DecodeUtf16Answer(*answer);
    }
    if ((flags & HttpFlagAscii) != 0) {
        return DecodeWindows1252Answer(*answer);
    }
    return DecodeUtf8Answer(*answer);
}

std::uint64_t HttpRequestFile(std::string_view url, const std::string& filePath,
                              std::string_view method, std::string_view user,
                              std::string_view password, std::string_view headers,
                              std::string_view body, std::string_view userAgent,
                              std::int64_t context, const HttpRequestCallback& onRequest,
                              const HttpProgressCallback& onProgress,
                              const HttpCompleteCallback& onComplete) {
    bool plainFile = false;
    UniqueHandle file = CreatePrivateFile(filePath, plainFile);
    if (!file) {
        return 0;
    }
    // A file that holds only part of the answer (a cut transfer, a full disk) must not pass for
    // a download; it is removed, unless the path names something other than a plain file (a
    // device, a pipe).
    const std::uint64_t written =
        HttpDownloadToFile(url, file.Get(), method, user, password, headers, body, userAgent,
                           context, onRequest, onProgress, onComplete);
    if (written == 0 || file.Reset() != 0) {
        if (plainFile) {
            (void)RemoveFile(filePath);
        }
        return 0;
    }
    return written;
}

}  // namespace quarnel
