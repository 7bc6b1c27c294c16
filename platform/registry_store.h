#pragma once

// The registry store: the program's settings and state, kept as folder trees.
//
// Layout. Each hive is a folder:
//   HKEY_LOCAL_MACHINE  <root>/var/lib/quarnel-updater/registry/HKEY_LOCAL_MACHINE
//   HKEY_CLASSES_ROOT   <root>/var/lib/quarnel-updater/registry/HKEY_CLASSES_ROOT
//   HKEY_CURRENT_USER   <root>$XDG_CONFIG_HOME/quarnel-updater/registry/HKEY_CURRENT_USER
// (<root> is QUARNEL_ROOT, empty normally). A key is a folder below its hive, one folder per
// backslash-separated component of its path. A value is a file in its key's folder named
// "<value name>.value"; a value with the empty name is "%00.value". In folder and file names the
// characters "%", "/", control characters, a leading "." and (for key folders) the "." of a
// trailing ".value" are written as "%XX" with two upper-case hexadecimal digits.
//
// A value file is one header line, then the value's bytes exactly as the registry holds them:
//   REGVALUE <type> <size>\n<size bytes>
// with type 1 (REG_SZ: UTF-16LE text with its terminator), 3 (REG_BINARY), 4 (REG_DWORD: 4 bytes,
// little-endian), 7 (REG_MULTI_SZ: UTF-16LE texts, each terminated, plus a final terminator) or
// any other number. With standard tools:
//   tail -n +2 Interval.value | od -An -t d4          # a DWORD
//   tail -n +2 Hostname.value | iconv -f UTF-16LE     # a string
//
// Names match without regard to ASCII letter case and keep the case they were created with.
// Writes replace a value file atomically and durably (temporary file, fsync, rename, fsync of the
// folder), so a crash or kill at any moment leaves the old value or the new one, never a torn one.
// Temporary files start with ".tmp." and a random name, so a file that a killed writer left can
// never be in a later writer's way; where the file system allows, the new value is written to an
// unnamed file that gets its name only when it is whole. A writer holds a lock on its temporary
// file while it exists; readers skip every name that starts with "."; every write and every
// key creation removes the temporary files in that key that no live writer holds (and that are
// older than ten seconds, the moment between making and locking a named one).
// A value whose file would be larger than 16 MiB is refused (no reader accepts such a file).
// A file that does not parse (wrong header, size that does not match) reads as absent.
//
// Permissions, set explicitly whatever the umask:
//   machine hives (HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT): key folders 0755, value files 0644,
//     so every user reads the settings and outcomes while only the owner (root) writes;
//   values named "Password" (in any letter case, in any key of any hive): 0600, owner only;
//   the user hive: folders 0700, files 0600, private to its user.
// A process without the rights gets the empty results of a missing key or value.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarnel {

enum class RegistryHive : std::uint32_t {
    ClassesRoot = 0x80000000u,
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
};

// Value types the program uses (the registry's own numbers).
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

struct RegistryValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

namespace registry_store {

// The hive's folder (it may not exist yet).
std::string HiveFolder(RegistryHive hive);
// The folder of an existing key, or the empty text when the key does not exist or its path is
// not a valid key path (empty components).
std::string KeyFolder(RegistryHive hive, std::string_view keyPath);

bool KeyExists(RegistryHive hive, std::string_view keyPath);
// Creates the key and every missing key above it; true when the key exists afterwards.
bool CreateKey(RegistryHive hive, std::string_view keyPath);
// Deletes a key that has no subkeys, with its values.
bool DeleteKey(RegistryHive hive, std::string_view keyPath);

bool ReadValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
               RegistryValue& value);
// Writes into an existing key; never creates one.
bool WriteValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                const RegistryValue& value);
bool DeleteValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName);

// Whether values of this name hold a secret and are readable by their owner only ("Password").
bool IsSecretValueName(std::string_view valueName);

// Whether a file name in a key folder belongs to the store's own bookkeeping (temporary files of
// a write in progress) rather than to a value or key. Change watchers ignore such names.
bool IsTransientEntryName(std::string_view fileName);

}  // namespace registry_store
}  // namespace quarnel
