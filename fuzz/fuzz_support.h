#pragma once

// What the fuzz targets share: property checks that end the run with a message (a finding for
// the fuzzer, a failure for the seed replay), views of the input, independent text checks, and a
// private QUARNEL_ROOT so nothing a target does reaches the real system.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel::fuzz {

// Prints which property broke and aborts, so the fuzzer keeps the input as a finding.
[[noreturn]] void PropertyBroken(const char* file, int line, const char* property);

#define FUZZ_CHECK(property)           \
    ((property) ? static_cast<void>(0) \
                : ::quarnel::fuzz::PropertyBroken(__FILE__, __LINE__, #property))

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return size == 0 ? std::string_view()
                     : std::string_view(reinterpret_cast<const char*>(data), size);
}

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF), checked
// independently of the program's own conversion.
bool IsValidUtf8(std::string_view text);
// The code points of well-formed UTF-8 text.
std::vector<char32_t> CodePoints(std::string_view text);
// A byte below 0x20 or 0x7F.
bool HasControlCharacter(std::string_view text);

// Points QUARNEL_ROOT at a temporary folder of this process for the whole run (made on the first
// call, removed at exit) and returns the folder.
const std::string& UseTemporaryRoot();

// Writes bytes to a file, replacing it; false when that fails.
bool WriteFileBytes(const std::string& path, std::string_view bytes);
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);

}  // namespace quarnel::fuzz
