#include "ddns/http_transfer_wire.h"

#include <charconv>
#include <cstddef>
#include <system_error>
#include <utility>
#include <vector>

namespace quarnel {
namespace {

class FieldWriter {
  public:
    FieldWriter& Text(std::string_view text) {
        const auto length = static_cast<std::uint32_t>(text.size());
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_.push_back(static_cast<char>((length >> shift) & 0xFF));
        }
        bytes_.append(text);
        return *this;
    }
    FieldWriter& Number(std::uint64_t value) { return Text(std::to_string(value)); }
    std::string Take() { return std::move(bytes_); }

  private:
    std::string bytes_;
};

// Splits bytes into exactly count fields; nothing when they are not that.
std::optional<std::vector<std::string_view>> Fields(std::string_view bytes, std::size_t count) {
    std::vector<std::string_view> fields;
    while (!bytes.empty()) {
        if (bytes.size() < 4 || fields.size() == count) {
            return std::nullopt;
        }
        std::uint32_t length = 0;
        for (int index = 0; index < 4; ++index) {
            length |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[index]))
                      << (8 * index);
        }
        bytes.remove_prefix(4);
        if (length > bytes.size()) {
            return std::nullopt;
        }
        fields.push_back(bytes.substr(0, length));
        bytes.remove_prefix(length);
    }
    if (fields.size() != count) {
        return std::nullopt;
    }
    return fields;
}

bool Number(std::string_view text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

std::string EncodeTransferRequest(const HttpTransferRequest& request) {
    return FieldWriter()
        .Text(request.url)
        .Text(request.method)
        .Number(request.flags)
        .Text(request.user)
        .Text(request.password)
        .Text(request.headers)
        .Text(request.body)
        .Text(request.userAgent)
        .Text(request.userIdent)
        .Text(request.hardwareIdent)
        .Number(static_cast<std::uint64_t>(request.connectSeconds))
        .Number(static_cast<std::uint64_t>(request.stallSeconds))
        .Number(static_cast<std::uint64_t>(request.totalSeconds))
        .Number(request.download ? 1 : 0)
        .Number(request.limit)
        .Take();
}

std::optional<HttpTransferRequest> DecodeTransferRequest(std::string_view bytes) {
    const auto fields = Fields(bytes, 15);
    if (!fields) {
        return std::nullopt;
    }
    const auto& f = *fields;
    HttpTransferRequest request;
    std::uint64_t flags = 0, connect = 0, stall = 0, total = 0, download = 0;
    if (!Number(f[2], flags) || !Number(f[10], connect) || !Number(f[11], stall) ||
        !Number(f[12], total) || !Number(f[13], download) || !Number(f[14], request.limit) ||
        flags > 0xFFFFFFFFu || connect > 86400 || stall > 86400 || total > 86400 * 7) {
        return std::nullopt;
    }
    request.url = f[0];
    request.method = f[1];
    request.flags = static_cast<std::uint32_t>(flags);
    request.user = f[3];
    request.password = f[4];
    request.headers = f[5];
    request.body = f[6];
    request.userAgent = f[7];
    request.userIdent = f[8];
    request.hardwareIdent = f[9];
    request.connectSeconds = static_cast<long>(connect);
    request.stallSeconds = static_cast<long>(stall);
    request.totalSeconds = static_cast<long>(total);
    request.download = download != 0;
    return request;
}

std::string EncodeTransferProgress(const HttpTransferProgress& progress) {
    return FieldWriter().Number(progress.received).Number(progress.expected).Take();
}

std::optional<HttpTransferProgress> DecodeTransferProgress(std::string_view bytes) {
    const auto fields = Fields(bytes, 2);
    HttpTransferProgress progress;
    if (!fields || !Number((*fields)[0], progress.received) ||
        !Number((*fields)[1], progress.expected)) {
        return std::nullopt;
    }
    return progress;
}

std::string EncodeTransferAnswer(const HttpTransferAnswer& answer) {
    return FieldWriter()
        .Number(static_cast<std::uint64_t>(answer.status))
        .Number(answer.complete ? 1 : 0)
        .Number(answer.received)
        .Number(answer.expected)
        .Text(answer.bytes)
        .Number(answer.failure)
        .Take();
}

std::optional<HttpTransferAnswer> DecodeTransferAnswer(std::string_view bytes) {
    const auto fields = Fields(bytes, 6);
    HttpTransferAnswer answer;
    std::uint64_t status = 0, complete = 0, failure = 0;
    if (!fields || !Number((*fields)[0], status) || !Number((*fields)[1], complete) ||
        !Number((*fields)[2], answer.received) || !Number((*fields)[3], answer.expected) ||
        !Number((*fields)[5], failure) || status > 999 || failure > 255) {
        return std::nullopt;
    }
    answer.status = static_cast<int>(status);
    answer.complete = complete != 0;
    answer.bytes = (*fields)[4];
    answer.failure = static_cast<std::uint32_t>(failure);
    return answer;
}

}  // namespace quarnel
