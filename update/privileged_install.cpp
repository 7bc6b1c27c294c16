#include "update/privileged_install.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "ddns/http_client.h"
#include "diagnostics/log.h"
#include "platform/child_process.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/product.h"
#include "platform/system_log.h"
#include "update/download_folder.h"
#include "update/file_signature.h"
#include "update/package_installer.h"

namespace quarnel {
namespace {

// A PATH entry a user controls is never used for what runs as root.
constexpr const char* kSystemFolders = "/usr/bin:/bin:/usr/sbin:/sbin";
constexpr int kQueryMilliseconds = 60 * 1000;
constexpr const char* kCopyName = "quarnel-updater.deb";

// The offered file, opened without following a link at its end, without becoming a controlling
// terminal and without waiting on a FIFO; only a regular file counts.
UniqueFd OpenRegularFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat info = {};
    if (!fd || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    return fd;
}

// Copies everything from one descriptor to the other, at most a download's bound, and leaves
// the copy positioned at its start.
bool CopyContents(int from, int to) {
    std::vector<char> buffer(1 << 16);
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::uint64_t>(got);
        if (total > kHttpDownloadLimit || !WriteAll(to, buffer.data(), static_cast<size_t>(got))) {
            return false;
        }
    }
    return ::lseek(to, 0, SEEK_SET) == 0;
}

// Only this process's user (root) may change what lies in the folder, or look into it.
bool PrivateToUs(const std::string& path, mode_t closed) {
    struct stat info = {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & closed) == 0;
}

std::string FolderAbove(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos || cut == 0 ? std::string("/") : path.substr(0, cut);
}

// The folder in which each copy gets a fresh folder of its own, made when missing; empty when
// it is not root's alone.
std::string CopyBase(const PrivilegedInstallSystem& system) {
    const std::string base = system.folderBase.empty()
                                 ? RootedPath("/var/lib/quarnel-updater/updates")
                                 : system.folderBase;
    const std::string parent = FolderAbove(base);
    if (!IsDirectory(parent)) {
        (void)CreateFolders(parent, 0755);
    }
    if (::mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return PrivateToUs(parent, 022) && PrivateToUs(base, 077) ? base : std::string();
}

// Debian versions start with a digit and hold only these characters; anything else is never
// handed to dpkg as an argument.
bool PlausibleVersion(const std::string& version) {
    if (version.empty() || std::isdigit(static_cast<unsigned char>(version[0])) == 0) {
        return false;
    }
    for (const char c : version) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 &&
            std::string_view(".+~:-").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::optional<PackageIdentity> ReadPackageIdentity(const std::string& packagePath) {
    const std::string dpkgDeb = FindExecutable("dpkg-deb", kSystemFolders);
    if (dpkgDeb.empty() || packagePath.empty() || packagePath[0] != '/') {
        return std::nullopt;
    }
    const CommandResult result =
        RunCommand({dpkgDeb, "--show", "--showformat=${Package}\\n${Version}\\n", packagePath},
                   kQueryMilliseconds);
    const std::vector<std::string> lines = Lines(result.output);
    if (!result.finished || result.exitCode != 0 || lines.size() != 2) {
        return std::nullopt;
    }
    return PackageIdentity{lines[0], lines[1]};
}

std::string InstalledProgramVersion() {
    const std::string dpkgQuery = FindExecutable("dpkg-query", kSystemFolders);
    if (!dpkgQuery.empty()) {
        const CommandResult result = RunCommand(
            {dpkgQuery, "--show", "--showformat=${Status}\\n${Version}\\n", kProgramPackageName},
            kQueryMilliseconds);
        const std::vector<std::string> lines = Lines(result.output);
        if (result.finished && result.exitCode == 0 && lines.size() == 2 &&
            lines[0].ends_with(" installed") && PlausibleVersion(lines[1])) {
            return lines[1];
        }
    }
    return QUARNEL_PACKAGE_VERSION;
}

bool IsNewerPackageVersion(const std::string& version, const std::string& base) {
    const std::string dpkg = FindExecutable("dpkg", kSystemFolders);
    if (dpkg.empty() || !PlausibleVersion(version) || !PlausibleVersion(base)) {
        return false;
    }
    const CommandResult result =
        RunCommand({dpkg, "--compare-versions", version, "gt", base}, kQueryMilliseconds);
    return result.finished && result.exitCode == 0;
}

DownloadOutcome InstallOfferedPackage(const std::string& offeredPath,
                                      const std::string& offeredVersion,
                                      const PrivilegedInstallSystem& system) {
    if (system.requireRoot && ::geteuid() != 0) {
        return DownloadOutcome::NotAuthorized;
    }
    const UniqueFd offered = OpenRegularFile(offeredPath);
    const UniqueFd offeredSignature = OpenRegularFile(offeredPath + kSignatureSuffix);
    if (!offered || !offeredSignature) {
        return DownloadOutcome::NotARegularFile;
    }
    const std::string base = CopyBase(system);
    if (base.empty()) {
        return DownloadOutcome::NoFolder;
    }
    PrivateDownloadFolder folder(base);
    const UniqueFd copy = folder.CreateFile(kCopyName);
    const UniqueFd signature = folder.CreateFile(std::string(kCopyName) + kSignatureSuffix);
    if (!copy || !signature || !CopyContents(offered.Get(), copy.Get()) ||
        !CopyContents(offeredSignature.Get(), signature.Get())) {
        return DownloadOutcome::NoFolder;
    }
    // From here on only root's copy counts: nobody else can change it.
    if (VerifyOpenFileSignature(copy.Get(), signature.Get()) != 1) {
        return DownloadOutcome::SignatureInvalid;
    }
    const std::string copyPath = folder.Path() + "/" + kCopyName;
    const std::optional<PackageIdentity> identity = system.readIdentity(copyPath);
    if (!identity || identity->name != kProgramPackageName) {
        return DownloadOutcome::NotThisProgram;
    }
    if (identity->version != offeredVersion) {
        return DownloadOutcome::NotOffered;
    }
    if (!IsNewerPackageVersion(identity->version, system.installedVersion())) {
        return DownloadOutcome::NotNewer;
    }
    if (!system.stillWanted()) {
        return DownloadOutcome::Cancelled;
    }
    const bool installed = system.install ? system.install(copyPath) : InstallPackage(copyPath);
    return installed ? DownloadOutcome::Installing : DownloadOutcome::InstallFailed;
}

DownloadOutcome StartPrivilegedInstall(const std::string& packagePath, const std::string& version,
                                       const std::atomic<bool>* cancelled) {
    const auto wanted = [cancelled] { return cancelled == nullptr || !cancelled->load(); };
    if (::geteuid() == 0) {
        PrivilegedInstallSystem system;
        system.stillWanted = wanted;
        return InstallOfferedPackage(packagePath, version, system);
    }
    const std::string pkexec = FindExecutable("pkexec", kSystemFolders);
    const std::string program = GetProgramPath();
    if (pkexec.empty() || program.empty()) {
        QLOG(kLogError, "StartPrivilegedInstall",
             "No pkexec to install " + packagePath + " as root");
        return DownloadOutcome::NotAuthorized;
    }
    QLOG(kLogInfo, "StartPrivilegedInstall",
         "Running " + pkexec + " " + program + " /installupdate " + packagePath + " " + version);
    StartedProgram step =
        StartProgramWithHandle({pkexec, program, "/installupdate", packagePath, version}, "");
    if (!step.handle) {
        return DownloadOutcome::InstallFailed;
    }
    for (;;) {
        pollfd ended{static_cast<int>(step.handle.Get()), POLLIN, 0};
        if (::poll(&ended, 1, 200) > 0) {
            break;
        }
        if (!wanted()) {
            // Still pkexec with the user's real id while it asks for the password: it can be
            // ended. Once it runs as root it cannot, and it refuses by itself.
            (void)::kill(step.processId, SIGTERM);
            return DownloadOutcome::Cancelled;
        }
    }
    return PrivilegedInstallOutcome(WaitForStartedProgram(step));
}

int RunPrivilegedInstall(const std::string& offeredPath, const std::string& offeredVersion) {
    // pkexec runs this step in place of itself, so the parent is the window that asked; once it
    // is gone, nobody wants the installation any more.
    const pid_t parent = ::getppid();
    PrivilegedInstallSystem system;
    system.stillWanted = [parent] { return ::getppid() == parent; };
    const DownloadOutcome outcome = InstallOfferedPackage(offeredPath, offeredVersion, system);
    const std::string text = DownloadOutcomeText(outcome);
    if (outcome == DownloadOutcome::Installing) {
        QLOG(kLogInfo, "RunPrivilegedInstall", "Installed " + offeredVersion);
        WriteSystemLog(ServiceName, SystemLogPriority::Information,
                       "Software update " + offeredVersion + " installed");
    } else {
        QLOG(kLogWarn, "RunPrivilegedInstall", "Refused " + offeredPath + ": " + text);
        WriteSystemLog(ServiceName, SystemLogPriority::Warning,
                       "Software update " + offeredPath + " refused: " + text);
        std::fprintf(stderr, "quarnel-updater: %s\n", text.c_str());
    }
    return PrivilegedInstallExitCode(outcome);
}

}  // namespace quarnel
