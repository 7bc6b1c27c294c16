// Registry value files: the parser over arbitrary file bytes, the same bytes found in a key's
// folder, and arbitrary values written through the store and read back, typed and untyped.

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/registry_store.h"
#include "platform/registry_value_file.h"
#include "platform/text.h"
#include "settings/registry.h"

namespace quarnel {
namespace {

constexpr RegistryHive kHive = RegistryHive::LocalMachine;
constexpr std::string_view kKey = "SOFTWARE\\Quarnel Updater\\Fuzz";

// The header's numbers as the store writes them: "REGVALUE <type> <size>", decimal digits only.
bool ReadHeader(std::string_view header, std::uint64_t& type, std::uint64_t& size) {
    constexpr std::string_view kTag = "REGVALUE ";
    if (header.substr(0, kTag.size()) != kTag) {
        return false;
    }
    const auto fields = SplitText(header.substr(kTag.size()), ' ');
    if (fields.size() != 2) {
        return false;
    }
    for (const std::string_view field : fields) {
        if (field.empty() || field.find_first_not_of("0123456789") != std::string_view::npos) {
            return false;
        }
    }
    const auto first = std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), type);
    const auto second =
        std::from_chars(fields[1].data(), fields[1].data() + fields[1].size(), size);
    return first.ec == std::errc() && second.ec == std::errc();
}

// A file is accepted only with the store's header and exactly the bytes it announces, which are
// then the value.
void CheckParser(const std::vector<std::uint8_t>& bytes) {
    RegistryValue value{0xDEADBEEF, {1, 2, 3}};
    if (!registry_store::ParseValueFile(bytes, value)) {
        FUZZ_CHECK(value.type == 0xDEADBEEF && value.data.size() == 3);
        return;
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::size_t newline = text.find('\n');
    FUZZ_CHECK(newline != std::string_view::npos);
    std::uint64_t type = 0;
    std::uint64_t size = 0;
    FUZZ_CHECK(ReadHeader(text.substr(0, newline), type, size));
    FUZZ_CHECK(type == value.type && size == value.data.size());
    FUZZ_CHECK(
        std::equal(value.data.begin(), value.data.end(), bytes.begin() + newline + 1, bytes.end()));
    // Written again by the store, the value's file is the same value.
    const std::string header = registry_store::ValueFileHeader(value);
    std::vector<std::uint8_t> canonical(header.begin(), header.end());
    canonical.insert(canonical.end(), value.data.begin(), value.data.end());
    RegistryValue again;
    FUZZ_CHECK(registry_store::ParseValueFile(canonical, again));
    FUZZ_CHECK(again.type == value.type && again.data == value.data);
}

// The same bytes as a file in the key's folder read as the parser reads them.
void CheckFileInStore(const std::vector<std::uint8_t>& bytes) {
    const std::string folder = registry_store::KeyFolder(kHive, kKey);
    FUZZ_CHECK(!folder.empty());
    FUZZ_CHECK(fuzz::WriteFileBytes(
        folder + "/Raw.value",
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
    RegistryValue parsed;
    RegistryValue read;
    const bool parses = registry_store::ParseValueFile(bytes, parsed);
    FUZZ_CHECK(registry_store::ReadValue(kHive, kKey, "raw", read) == parses);
    if (parses) {
        FUZZ_CHECK(read.type == parsed.type && read.data == parsed.data);
    }
}

// Written through the store, any value reads back as exactly those bytes, and the typed readers
// make of it what they promise.
void CheckRoundTrip(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return;
    }
    // The first byte picks the type: the program's types and a few others.
    constexpr std::uint32_t kTypes[] = {kRegSz,       kRegBinary, kRegDword, kRegMultiSz,
                                        kRegExpandSz, 0,          11,        0xFFFFFFFFu};
    const RegistryValue value{kTypes[data[0] % 8],
                              std::vector<std::uint8_t>(data + 1, data + size)};
    const std::string_view name = data[0] & 0x80 ? "Password" : "Value";
    FUZZ_CHECK(registry_store::WriteValue(kHive, kKey, name, value));
    RegistryValue read;
    FUZZ_CHECK(registry_store::ReadValue(kHive, kKey, name, read));
    FUZZ_CHECK(read.type == value.type && read.data == value.data);
    if (name == "Password") {
        struct stat info = {};
        const std::string folder = registry_store::KeyFolder(kHive, kKey);
        FUZZ_CHECK(::stat((folder + "/Password.value").c_str(), &info) == 0);
        FUZZ_CHECK((info.st_mode & 0777) == 0600);
    }

    const bool present = !value.data.empty();
    const std::string text = ReadRegistryString(kHive, kKey, name);
    FUZZ_CHECK(fuzz::IsValidUtf8(text) && text.find('\0') == std::string::npos);
    FUZZ_CHECK(text.size() <= 3 * value.data.size());
    if (value.type != kRegSz) {
        FUZZ_CHECK(text.empty());
    }
    const std::string list = ReadRegistryMultiString(kHive, kKey, name);
    FUZZ_CHECK(fuzz::IsValidUtf8(list) && list.find('\0') == std::string::npos);
    if (value.type == kRegMultiSz && present) {
        // One unit per two bytes (an odd last byte makes one more), zero units as line feeds.
        FUZZ_CHECK(Utf8ToUtf16(list).size() == (value.data.size() + 1) / 2);
    } else {
        FUZZ_CHECK(list.empty());
    }
    if (value.type == kRegSz && present) {
        // The text ends at its first zero unit, and only there.
        const unsigned first = value.data[0] | (value.data.size() > 1 ? value.data[1] << 8 : 0);
        FUZZ_CHECK(text.empty() == (first == 0));
    }
    const std::int64_t number = ReadRegistryDword(kHive, kKey, name);
    std::uint32_t expected = 0;
    if (value.type == kRegDword) {
        for (std::size_t i = 0; i < 4 && i < value.data.size(); ++i) {
            expected |= static_cast<std::uint32_t>(value.data[i]) << (8 * i);
        }
    }
    FUZZ_CHECK(number == static_cast<std::int32_t>(expected));
    const std::vector<std::uint8_t> binary = ReadRegistryBinary(kHive, kKey, name);
    FUZZ_CHECK(binary == (value.type == kRegBinary ? value.data : std::vector<std::uint8_t>()));
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    fuzz::UseTemporaryRoot();
    static const bool keyMade = registry_store::CreateKey(kHive, kKey);
    FUZZ_CHECK(keyMade);
    const std::vector<std::uint8_t> bytes(data, data + size);
    CheckParser(bytes);
    CheckFileInStore(bytes);
    CheckRoundTrip(data, size);
    return 0;
}
