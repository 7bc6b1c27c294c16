#pragma once

// The step of the software update that runs as root: "quarnel-updater /installupdate <file>
// <version>", started through pkexec by the update window (or called directly by an update
// process that runs as root). While the password prompt is open, any process of the desktop
// user can rewrite what the window downloaded and checked, so this step trusts none of it:
//
//   1. it opens the offered file without following a link and takes it only when it is a
//      regular file; the same for its signature (the file name + ".p7s");
//   2. it copies both into a fresh folder that only root can enter (below
//      /var/lib/quarnel-updater/updates);
//   3. it verifies the pinned signature on that copy;
//   4. it reads the package's name and version from the verified copy (dpkg-deb);
//   5. it installs the copy (apt-get, else dpkg, without a shell) only when the package is this
//      program's own, newer than the installed version (dpkg's order) and exactly the version
//      the maker's page offered, and only while whoever asked for it still waits.
//
// The copy's folder is removed afterwards, whatever the outcome.

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "update/software_update.h"

namespace quarnel {

// The Debian package that holds this program.
inline constexpr const char* kProgramPackageName = "quarnel-updater";

struct PackageIdentity {
    std::string name;
    std::string version;
};

// The name and version of a package file, read with dpkg-deb; nothing when it cannot be read.
std::optional<PackageIdentity> ReadPackageIdentity(const std::string& packagePath);
// The installed version of this program's package, else (not installed through dpkg) the version
// of this build.
std::string InstalledProgramVersion();
// Whether version is newer than base in dpkg's order (dpkg --compare-versions).
bool IsNewerPackageVersion(const std::string& version, const std::string& base);

// What the step needs from the system; the tests replace the installed version, the installation
// and the root folder.
struct PrivilegedInstallSystem {
    std::function<std::optional<PackageIdentity>(const std::string&)> readIdentity =
        ReadPackageIdentity;
    std::function<std::string()> installedVersion = InstalledProgramVersion;
    // Installs the checked copy; true when the package manager succeeded.
    std::function<bool(const std::string& packagePath)> install;  // empty: InstallPackage
    // False once nobody waits for the installation any more (the window closed).
    std::function<bool()> stillWanted = [] { return true; };
    std::string folderBase;  // empty: /var/lib/quarnel-updater/updates (below QUARNEL_ROOT)
    bool requireRoot = true;
};

// Steps 1 to 5 for the offered file; DownloadOutcome::Installing when the package was installed.
DownloadOutcome InstallOfferedPackage(const std::string& offeredPath,
                                      const std::string& offeredVersion,
                                      const PrivilegedInstallSystem& system = {});

// The exit code of /installupdate for an outcome (1 installed, 0 never), and back; pkexec's own
// codes (126 dismissed, 127 not authorized) read as NotAuthorized.
int PrivilegedInstallExitCode(DownloadOutcome outcome);
DownloadOutcome PrivilegedInstallOutcome(int exitCode);

// The update window's side: hands the checked file to the root step, through pkexec when this
// process is not root (directly otherwise), and waits for its answer. Once *cancelled is set it
// stops waiting and ends the password prompt where it still can; the root step, finding that
// its starter is gone, installs nothing.
DownloadOutcome StartPrivilegedInstall(const std::string& packagePath, const std::string& version,
                                       const std::atomic<bool>* cancelled);

// The /installupdate mode: InstallOfferedPackage for the arguments while the process that
// started it lives; the refusal goes to standard error and the system log. Returns the exit
// code.
int RunPrivilegedInstall(const std::string& offeredPath, const std::string& offeredVersion);

}  // namespace quarnel
