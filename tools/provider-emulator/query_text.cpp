#include "tools/provider-emulator/query_text.h"

#include <openssl/evp.h>

#include <cstddef>
#include <cstdio>

namespace emulator {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Length of the valid UTF-8 sequence starting at text[i], or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string PercentDecode(std::string_view text, bool plusIsBlank) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else if (c == '+' && plusIsBlank) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

QueryPairs ParseQuery(std::string_view query) {
    QueryPairs pairs;
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string_view::npos) {
            end = query.size();
        }
        const std::string_view item = query.substr(start, end - start);
        if (!item.empty()) {
            const std::size_t eq = item.find('=');
            if (eq == std::string_view::npos) {
                pairs.emplace_back(PercentDecode(item, true), std::string());
            } else {
                pairs.emplace_back(PercentDecode(item.substr(0, eq), true),
                                   PercentDecode(item.substr(eq + 1), true));
            }
        }
        start = end + 1;
    }
    return pairs;
}

std::optional<std::string> QueryValue(const QueryPairs& pairs, std::string_view key) {
    for (const auto& [name, value] : pairs) {
        if (name == key) {
            return value;
        }
    }
    return std::nullopt;
}

std::pair<std::string, std::string> SplitTarget(std::string_view target) {
    const std::size_t mark = target.find('?');
    if (mark == std::string_view::npos) {
        return {std::string(target), std::string()};
    }
    return {std::string(target.substr(0, mark)), std::string(target.substr(mark + 1))};
}

std::optional<std::pair<std::string, std::string>> ParseBasicAuthorization(std::string_view value) {
    constexpr std::string_view scheme = "Basic ";
    if (value.size() <= scheme.size() || value.substr(0, scheme.size()) != scheme) {
        return std::nullopt;
    }
    std::string encoded(value.substr(scheme.size()));
    while (!encoded.empty() && (encoded.back() == ' ' || encoded.back() == '\t')) {
        encoded.pop_back();
    }
    if (encoded.empty() || encoded.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string decoded(encoded.size() / 4 * 3 + 1, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                       reinterpret_cast<const unsigned char*>(encoded.data()),
                                       static_cast<int>(encoded.size()));
    if (length < 0) {
        return std::nullopt;
    }
    // EVP_DecodeBlock counts the padding as zero bytes; drop one per "=".
    std::size_t size = static_cast<std::size_t>(length);
    for (std::size_t k = encoded.size(); k > 0 && encoded[k - 1] == '='; --k) {
        --size;
    }
    decoded.resize(size);
    const std::size_t colon = decoded.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    return std::make_pair(decoded.substr(0, colon), decoded.substr(colon + 1));
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (const std::size_t length = Utf8SequenceLength(text, i); length > 0) {
            out.append(text.substr(i, length));
            i += length - 1;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace emulator
