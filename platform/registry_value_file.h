#pragma once

// The registry store's value file (see registry_store.h): one header line
// "REGVALUE <type> <size>\n", then the value's size bytes exactly as the registry holds them.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry_store.h"

namespace quarnel::registry_store {

// The header line of a value's file, line feed included.
std::string ValueFileHeader(const RegistryValue& value);

// Reads a value file's bytes. False, with value unchanged, when the header is not the store's
// or the bytes after it are not exactly as many as it says.
bool ParseValueFile(const std::vector<std::uint8_t>& bytes, RegistryValue& value);

}  // namespace quarnel::registry_store
