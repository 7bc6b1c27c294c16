#pragma once

// Typed access to the registry store. Every call is complete in itself (no handle is kept), so
// any process and thread may use the store at any time; the most recent write wins.
//
// Readers give the empty result (0, empty text, empty buffer) for a missing value, a value of
// another type, an empty value, a missing key or a store that cannot be read. Writers write into
// an existing key only (create it first with CreateRegistryKey) and return 1 on success, else 0;
// the string writers never store an empty text, so the old value stays. Lists are held in memory
// as one text in which every entry is followed by a line feed. `machine` names a remote
// registry; there is none on this platform, so anything but the empty text gives the empty result.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_store.h"

namespace quarnel {

int CreateRegistryKey(RegistryHive hive, std::string_view keyPath, std::uint32_t options = 0,
                      std::string_view machine = {});
int DeleteRegistryValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                        std::string_view machine = {});
int RegistryKeyExists(RegistryHive hive, std::string_view keyPath, std::string_view machine = {});

// A REG_DWORD as a signed 32-bit number; a stored value shorter than 4 bytes is zero-extended.
std::int64_t ReadRegistryDword(RegistryHive hive, std::string_view keyPath,
                               std::string_view valueName, std::string_view machine = {});
// A REG_SZ up to its first terminator (a missing terminator is tolerated).
std::string ReadRegistryString(RegistryHive hive, std::string_view keyPath,
                               std::string_view valueName, std::string_view machine = {});
// A REG_MULTI_SZ with every terminator turned into a line feed: "home\noffice\n\n".
std::string ReadRegistryMultiString(RegistryHive hive, std::string_view keyPath,
                                    std::string_view valueName, std::string_view machine = {});
// A REG_BINARY's bytes; the vector's size is the value's length.
std::vector<std::uint8_t> ReadRegistryBinary(RegistryHive hive, std::string_view keyPath,
                                             std::string_view valueName,
                                             std::string_view machine = {});

int WriteRegistryDword(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                       std::int64_t value, std::string_view machine = {});
int WriteRegistryString(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                        std::string_view text, std::string_view machine = {});
// Every line feed becomes a terminator: "home\noffice\n" stores the two entries.
int WriteRegistryMultiString(RegistryHive hive, std::string_view keyPath,
                             std::string_view valueName, std::string_view text,
                             std::string_view machine = {});
int WriteRegistryBinary(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                        const std::uint8_t* data, std::size_t length,
                        std::string_view machine = {});

}  // namespace quarnel
