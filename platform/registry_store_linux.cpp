#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/registry_value_file.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace quarnel::registry_store {
namespace {

constexpr std::string_view kValueSuffix = ".value";
constexpr std::string_view kTemporaryPrefix = ".tmp.";
// The fall-back's temporary file is locked right after it is made; one younger than this may
// still be in that moment.
constexpr time_t kFreshTemporarySeconds = 10;
// No value the program stores comes near this; a larger file is damage, not data, and a larger
// value is refused by the writer.
constexpr std::size_t kMaximumValueFileSize = 16u << 20;

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// Permissions, set explicitly so that the umask of whoever writes does not matter.
struct HiveModes {
    mode_t folder;
    mode_t file;
};

HiveModes ModesOf(RegistryHive hive) {
    if (hive == RegistryHive::CurrentUser) {
        return {0700, 0600};  // the user's own settings: private to the user
    }
    return {0755, 0644};  // machine-wide: every user reads, only the owner (root) writes
}

std::string Encode(std::string_view name, bool isKey) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size() + 8);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == '%' || c == '/' || c < 0x20 || c == 0x7F || (i == 0 && c == '.')) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    if (isKey && out.ends_with(kValueSuffix)) {
        out.replace(out.size() - kValueSuffix.size(), 1, "%2E");
    }
    if (!isKey && name.empty()) {
        out = "%00";
    }
    return out;
}

std::optional<std::string> Decode(std::string_view encoded) {
    if (encoded == "%00") {
        return std::string();
    }
    std::string out;
    out.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            out.push_back(encoded[i]);
            continue;
        }
        if (i + 2 >= encoded.size()) {
            return std::nullopt;
        }
        const int high = HexDigitValue(encoded[i + 1]);
        const int low = HexDigitValue(encoded[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

// The on-disk name of the key folder (wantFolder) or value file in folder whose decoded name
// matches name case-insensitively; an exact match wins over one that differs in case.
std::optional<std::string> FindEntry(const std::string& folder, std::string_view name,
                                     bool wantFolder) {
    // The name as this store writes it is the usual case and needs no scan of the folder.
    const std::string exact =
        Encode(name, wantFolder) + (wantFolder ? std::string() : std::string(kValueSuffix));
    struct stat exactInfo = {};
    if (::lstat((folder + "/" + exact).c_str(), &exactInfo) == 0 &&
        (wantFolder ? S_ISDIR(exactInfo.st_mode) : S_ISREG(exactInfo.st_mode))) {
        return exact;
    }
    DirPtr dir(::opendir(folder.c_str()));
    if (!dir) {
        return std::nullopt;
    }
    std::optional<std::string> found;
    while (const dirent* entry = ::readdir(dir.get())) {
        std::string_view fileName = entry->d_name;
        if (fileName.empty() || fileName.front() == '.') {
            continue;
        }
        std::string_view encoded = fileName;
        if (!wantFolder) {
            if (!fileName.ends_with(kValueSuffix)) {
                continue;
            }
            encoded = fileName.substr(0, fileName.size() - kValueSuffix.size());
        }
        const std::optional<std::string> decoded = Decode(encoded);
        if (!decoded || !SameName(*decoded, name)) {
            continue;
        }
        struct stat info = {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (wantFolder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) {
            continue;
        }
        if (*decoded == name) {
            return std::string(fileName);
        }
        if (!found || fileName < *found) {
            found = std::string(fileName);
        }
    }
    return found;
}

// Splits a key path at backslashes; an empty component (also a leading backslash) makes the
// path invalid. One trailing backslash is tolerated.
std::optional<std::vector<std::string>> SplitKeyPath(std::string_view keyPath) {
    if (!keyPath.empty() && keyPath.back() == '\\') {
        keyPath.remove_suffix(1);
    }
    std::vector<std::string> parts;
    if (keyPath.empty()) {
        return parts;
    }
    for (std::string& part : SplitText(keyPath, '\\')) {
        if (part.empty()) {
            return std::nullopt;
        }
        parts.push_back(std::move(part));
    }
    return parts;
}

// A name no other writer uses: random, so that a file that a killed writer left under a name can
// never stand in the way of a later writer, whatever process id it has.
std::string RandomTemporaryName() {
    std::uint8_t random[12] = {};
    std::size_t got = 0;
    while (got < sizeof random) {
        const ssize_t part = ::getrandom(random + got, sizeof random - got, 0);
        if (part <= 0) {
            if (part < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        got += static_cast<std::size_t>(part);
    }
    static std::atomic<unsigned> counter{0};
    // Without randomness the time, the process and a counter still keep names apart.
    if (got < sizeof random) {
        const std::uint64_t mix = static_cast<std::uint64_t>(::time(nullptr)) ^
                                  (static_cast<std::uint64_t>(CurrentProcessId()) << 32) ^
                                  counter.fetch_add(1);
        std::memcpy(random, &mix, sizeof mix);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name(kTemporaryPrefix);
    for (const std::uint8_t byte : random) {
        name.push_back(kHex[byte >> 4]);
        name.push_back(kHex[byte & 0x0F]);
    }
    return name;
}

// A temporary file for a new value: its descriptor, locked for as long as it is open (so that
// the cleaner never takes it for a killed writer's leftover), and its name once it has one.
struct TemporaryFile {
    UniqueFd fd;
    std::string name;
};

// The usual way: an unnamed file, locked before it ever gets a name, written, synced and only
// then linked under a fresh name. False when the file system or the process cannot do that.
bool WriteUnnamed(const std::string& folder, mode_t mode, const std::string& bytes,
                  TemporaryFile& temporary) {
    UniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!fd || ::flock(fd.Get(), LOCK_EX) != 0 || ::fchmod(fd.Get(), mode) != 0 ||
        !WriteAll(fd.Get(), bytes.data(), bytes.size()) || ::fsync(fd.Get()) != 0) {
        return false;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = RandomTemporaryName();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, (folder + "/" + name).c_str(),
                     AT_SYMLINK_FOLLOW) == 0) {
            temporary.fd = std::move(fd);
            temporary.name = name;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// The fall-back: a file created exclusively under a fresh name, locked at once.
bool WriteNamed(const std::string& folder, mode_t mode, const std::string& bytes,
                TemporaryFile& temporary) {
    std::string path = folder + "/" + std::string(kTemporaryPrefix) + "XXXXXX";
    UniqueFd fd(::mkostemp(path.data(), O_CLOEXEC));
    if (!fd) {
        return false;
    }
    temporary.name = path.substr(folder.size() + 1);
    const bool written = ::flock(fd.Get(), LOCK_EX) == 0 && ::fchmod(fd.Get(), mode) == 0 &&
                         WriteAll(fd.Get(), bytes.data(), bytes.size()) && ::fsync(fd.Get()) == 0;
    temporary.fd = std::move(fd);
    return written;
}

// Removes temporary files that writers killed in the middle of a write left behind: those that
// no live writer holds locked. A file made by the fall-back is unlocked for a moment after its
// creation, so only files older than that moment can be left over.
void RemoveStaleTemporaries(const std::string& folder) {
    DirPtr dir(::opendir(folder.c_str()));
    if (!dir) {
        return;
    }
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::string_view(entry->d_name).substr(0, kTemporaryPrefix.size()) !=
            kTemporaryPrefix) {
            continue;
        }
        UniqueFd fd(::openat(::dirfd(dir.get()), entry->d_name,
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat opened = {};
        if (!fd || ::fstat(fd.Get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
            now - opened.st_mtime < kFreshTemporarySeconds ||
            ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            continue;
        }
        // Still the same file under that name: not one a writer renamed away meanwhile.
        struct stat named = {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
        }
    }
}

}  // namespace

std::string HiveFolder(RegistryHive hive) {
    switch (hive) {
        case RegistryHive::LocalMachine:
            return MachineRegistryFolder() + "/HKEY_LOCAL_MACHINE";
        case RegistryHive::ClassesRoot:
            return MachineRegistryFolder() + "/HKEY_CLASSES_ROOT";
        case RegistryHive::CurrentUser:
            return UserRegistryFolder() + "/HKEY_CURRENT_USER";
    }
    return {};
}

std::string KeyFolder(RegistryHive hive, std::string_view keyPath) {
    const auto parts = SplitKeyPath(keyPath);
    if (!parts) {
        return {};
    }
    std::string folder = HiveFolder(hive);
    if (folder.empty() || !IsDirectory(folder)) {
        return {};
    }
    for (const std::string& part : *parts) {
        const auto entry = FindEntry(folder, part, true);
        if (!entry) {
            return {};
        }
        folder += "/" + *entry;
    }
    return folder;
}

bool KeyExists(RegistryHive hive, std::string_view keyPath) {
    const std::string folder = KeyFolder(hive, keyPath);
    return !folder.empty() && ::faccessat(AT_FDCWD, folder.c_str(), R_OK | X_OK, AT_EACCESS) == 0;
}

bool CreateKey(RegistryHive hive, std::string_view keyPath) {
    const auto parts = SplitKeyPath(keyPath);
    if (!parts) {
        return false;
    }
    const HiveModes modes = ModesOf(hive);
    std::string folder = HiveFolder(hive);
    if (!IsDirectory(folder) && !CreateFolders(folder, modes.folder)) {
        return false;
    }
    for (const std::string& part : *parts) {
        auto entry = FindEntry(folder, part, true);
        if (!entry) {
            const std::string created = folder + "/" + Encode(part, true);
            if (::mkdir(created.c_str(), modes.folder) == 0) {
                if (::chmod(created.c_str(), modes.folder) != 0) {
                    return false;
                }
            } else if (errno != EEXIST) {
                return false;
            }
            (void)SyncFolder(folder);
            entry = FindEntry(folder, part, true);
            if (!entry) {
                return false;
            }
        }
        folder += "/" + *entry;
    }
    RemoveStaleTemporaries(folder);
    return true;
}

bool DeleteKey(RegistryHive hive, std::string_view keyPath) {
    const auto parts = SplitKeyPath(keyPath);
    if (!parts || parts->empty()) {
        return false;
    }
    const std::string folder = KeyFolder(hive, keyPath);
    if (folder.empty()) {
        return false;
    }
    {
        DirPtr dir(::opendir(folder.c_str()));
        if (!dir) {
            return false;
        }
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            struct stat info = {};
            if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(info.st_mode) && name.front() != '.') {
                return false;  // subkeys stay; only a leaf key can be deleted
            }
        }
        ::rewinddir(dir.get());
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") {
                ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
            }
        }
    }
    if (::rmdir(folder.c_str()) != 0) {
        return false;
    }
    (void)SyncFolder(folder.substr(0, folder.rfind('/')));
    return true;
}

bool ReadValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
               RegistryValue& value) {
    const std::string folder = KeyFolder(hive, keyPath);
    if (folder.empty()) {
        return false;
    }
    const auto entry = FindEntry(folder, valueName, false);
    if (!entry) {
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(folder + "/" + *entry, kMaximumValueFileSize, bytes)) {
        return false;
    }
    return ParseValueFile(bytes, value);
}

bool WriteValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName,
                const RegistryValue& value) {
    const std::string folder = KeyFolder(hive, keyPath);
    if (folder.empty()) {
        return false;
    }
    const auto existing = FindEntry(folder, valueName, false);
    const std::string target =
        folder + "/" +
        (existing ? *existing : Encode(valueName, false) + std::string(kValueSuffix));
    RemoveStaleTemporaries(folder);

    // Created with its final mode, so a secret is never readable by others, not even briefly.
    const mode_t mode = IsSecretValueName(valueName) ? 0600 : ModesOf(hive).file;
    std::string bytes = ValueFileHeader(value);
    // Never store what no reader would accept: such a value would read as absent.
    if (value.data.size() > kMaximumValueFileSize - bytes.size()) {
        errno = EFBIG;
        return false;
    }
    bytes.append(value.data.begin(), value.data.end());
    TemporaryFile temporary;
    if (!WriteUnnamed(folder, mode, bytes, temporary)) {
        temporary = TemporaryFile{};
        if (!WriteNamed(folder, mode, bytes, temporary)) {
            if (!temporary.name.empty()) {
                ::unlink((folder + "/" + temporary.name).c_str());
            }
            return false;
        }
    }
    const std::string path = folder + "/" + temporary.name;
    if (::rename(path.c_str(), target.c_str()) != 0) {
        ::unlink(path.c_str());
        return false;
    }
    return SyncFolder(folder);
}

bool DeleteValue(RegistryHive hive, std::string_view keyPath, std::string_view valueName) {
    const std::string folder = KeyFolder(hive, keyPath);
    if (folder.empty()) {
        return false;
    }
    const auto entry = FindEntry(folder, valueName, false);
    if (!entry || ::unlink((folder + "/" + *entry).c_str()) != 0) {
        return false;
    }
    (void)SyncFolder(folder);
    return true;
}

bool IsSecretValueName(std::string_view valueName) {
    return SameName(valueName, "Password");
}

bool IsTransientEntryName(std::string_view fileName) {
    return !fileName.empty() && fileName.front() == '.';
}

}  // namespace quarnel::registry_store
