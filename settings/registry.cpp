#include "settings/registry.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "platform/text.h"

namespace quarnel {
namespace {

// Reads a value of the expected type with at least one byte, as the readers require.
bool ReadTyped(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
               std::string_view machine, std::uint32_t type, std::vector<std::uint8_t>& data) {
    if (!machine.empty()) {
        return false;
    }
    RegistryValue value;
    if (!registry_store::ReadValue(hive, keyPath, valueName, value) || value.type != type ||
        value.data.empty()) {
        return false;
    }
    data = std::move(value.data);
    return true;
}

int Write(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
          std::string_view machine, std::uint32_t type, std::vector<std::uint8_t> data) {
    if (!machine.empty()) {
        return 0;
    }
    return registry_store::WriteValue(hive, keyPath, valueName, {type, std::move(data)}) ? 1 : 0;
}

// UTF-16 code units of stored text as the registry hands them out: the data followed by a
// terminator, so an odd trailing byte forms a unit with a zero high byte.
std::u16string StoredUnits(const std::vector<std::uint8_t>& data) {
    std::u16string units;
    units.reserve(data.size() / 2 + 1);
    for (std::size_t i = 0; i < data.size(); i += 2) {
        const std::uint8_t high = i + 1 < data.size() ? data[i + 1] : 0;
        units.push_back(static_cast<char16_t>(data[i] | (high << 8)));
    }
    return units;
}

std::vector<std::uint8_t> TerminatedUtf16(std::string text, bool lineFeedBecomesNul) {
    if (lineFeedBecomesNul) {
        std::replace(text.begin(), text.end(), '\n', '\0');
    }
    text.push_back('\0');
    return Utf8ToUtf16LeBytes(text);
}

}  // namespace

int CreateRegistryKey(RegistryHive hive, std::string_view keyPath, std::uint32_t /*options*/,
                      std::string_view machine) {
    return machine.empty() && registry_store::CreateKey(hive, keyPath) ? 1 : 0;
}

int DeleteRegistryValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                        std::string_view machine) {
    return machine.empty() && registry_store::DeleteValue(hive, keyPath, valueName) ? 1 : 0;
}

int RegistryKeyExists(RegistryHive hive, std::string_view keyPath, std::string_view machine) {
    return machine.empty() && registry_store::KeyExists(hive, keyPath) ? 1 : 0;
}

std::int64_t ReadRegistryDword(RegistryHive hive, std::string_view keyPath,
                               std::string_view valueName, std::string_view machine) {
    std::vector<std::uint8_t> data;
    if (!ReadTyped(hive, keyPath, valueName, machine, kRegDword, data)) {
        return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && i < data.size(); ++i) {
        value |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    }
    return static_cast<std::int32_t>(value);
}

std::string ReadRegistryString(RegistryHive hive, std::string_view keyPath,
                               std::string_view valueName, std::string_view machine) {
    std::vector<std::uint8_t> data;
    if (!ReadTyped(hive, keyPath, valueName, machine, kRegSz, data)) {
        return {};
    }
    std::u16string units = StoredUnits(data);
    const std::size_t end = units.find(u'\0');
    if (end != std::u16string::npos) {
        units.resize(end);
    }
    return Utf16ToUtf8(units);
}

std::string ReadRegistryMultiString(RegistryHive hive, std::string_view keyPath,
                                    std::string_view valueName, std::string_view machine) {
    std::vector<std::uint8_t> data;
    if (!ReadTyped(hive, keyPath, valueName, machine, kRegMultiSz, data)) {
        return {};
    }
    std::u16string units = StoredUnits(data);
    for (char16_t& unit : units) {
        if (unit == 0) {
            unit = u'\n';
        }
    }
    return Utf16ToUtf8(units);
}

std::vector<std::uint8_t> ReadRegistryBinary(RegistryHive hive, std::string_view keyPath,
                                             std::string_view valueName, std::string_view machine) {
    std::vector<std::uint8_t> data;
    if (!ReadTyped(hive, keyPath, valueName, machine, kRegBinary, data)) {
        return {};
    }
    return data;
}

int WriteRegistryDword(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                       std::int64_t value, std::string_view machine) {
    const auto low = static_cast<std::uint32_t>(value);
    return Write(hive, keyPath, valueName, machine, kRegDword,
                 {static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(low >> 8),
                  static_cast<std::uint8_t>(low >> 16), static_cast<std::uint8_t>(low >> 24)});
}

int WriteRegistryString(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                        std::string_view text, std::string_view machine) {
    if (text.empty()) {
        return 0;
    }
    return Write(hive, keyPath, valueName, machine, kRegSz,
                 TerminatedUtf16(std::string(text), false));
}

int WriteRegistryMultiString(RegistryHive hive, std::string_view keyPath,
                             std::string_view valueName, std::string_view text,
                             std::string_view machine) {
    if (text.empty()) {
        return 0;
    }
    return Write(hive, keyPath, valueName, machine, kRegMultiSz,
                 TerminatedUtf16(std::string(text), true));
}

int WriteRegistryBinary(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                        const std::uint8_t* data, std::size_t length, std::string_view machine) {
    if (data == nullptr && length != 0) {
        return 0;
    }
    return Write(hive, keyPath, valueName, machine, kRegBinary,
                 std::vector<std::uint8_t>(data, data + length));
}

}  // namespace quarnel
