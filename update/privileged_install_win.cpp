// The software update's install step on Windows: "quarnel-updater /installupdate <file>
// <version>", started elevated ("runas") by the update window. While the elevation prompt is
// open, any process of the user can rewrite what the window downloaded and checked, so this step
// trusts none of it:
//
//   1. it opens the offered file without following a link and takes it only when it is a plain
//      file, held open against writers while it is copied;
//   2. it copies it into a fresh folder that only the system and the administrators can enter
//      (below %ProgramData%\Quarnel Updater\updates);
//   3. it verifies the pinned signature on that copy;
//   4. it reads the version record of the copy, which must be exactly the version the maker's
//      page offered and newer than this build;
//   5. it starts the copy with the installer's "/silent" contract and does not wait (the
//      installer replaces this very program); the copy goes at the next restart.

#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>
#include <shlobj.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "diagnostics/log.h"
#include "platform/elevated_start.h"
#include "platform/process.h"
#include "platform/process_control.h"
#include "platform/system_rights.h"
#include "platform/wide_text_win.h"
#include "settings/schema.h"
#include "update/file_signature.h"
#include "update/meta_content.h"
#include "update/privileged_install.h"

namespace quarnel {
namespace {

constexpr const wchar_t* kInstallerName = L"quarnel-updater-setup.exe";
// The system and the administrators, nobody else; not inherited from the folder above.
constexpr const wchar_t* kAdministratorsOnly = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (value != INVALID_HANDLE_VALUE && value != nullptr) {
            ::CloseHandle(value);
        }
    }
};

std::wstring ProgramDataFolder() {
    PWSTR known = nullptr;
    std::wstring folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &known))) {
        folder = known;
    }
    ::CoTaskMemFree(known);
    return folder;
}

// A fresh folder closed to everybody but the system and the administrators; empty on failure.
std::wstring MakeAdministratorsFolder() {
    const std::wstring base = ProgramDataFolder() + L"\\Quarnel Updater";
    const std::wstring updates = base + L"\\updates";
    ::CreateDirectoryW(base.c_str(), nullptr);
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kAdministratorsOnly, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr)) {
        return {};
    }
    ::CreateDirectoryW(updates.c_str(), &attributes);
    std::wstring made;
    std::random_device random;
    for (int attempt = 0; attempt < 8 && made.empty(); ++attempt) {
        const std::wstring candidate = updates + L"\\" + std::to_wstring(random());
        if (::CreateDirectoryW(candidate.c_str(), &attributes)) {
            made = candidate;
        }
    }
    ::LocalFree(attributes.lpSecurityDescriptor);
    return made;
}

// Step 1 and 2: the offered file, a plain file opened without following a link, copied whole.
bool CopyOffered(const std::wstring& offered, const std::wstring& copy) {
    Handle source;
    source.value =
        ::CreateFileW(offered.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (source.value == INVALID_HANDLE_VALUE ||
        !::GetFileInformationByHandle(source.value, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        ::GetFileType(source.value) != FILE_TYPE_DISK) {
        return false;
    }
    Handle target;
    target.value = ::CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target.value == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::vector<char> buffer(1 << 16);
    std::uint64_t copied = 0;
    while (true) {
        DWORD read = 0;
        if (!::ReadFile(source.value, buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                        nullptr)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        DWORD written = 0;
        if (!::WriteFile(target.value, buffer.data(), read, &written, nullptr) || written != read) {
            return false;
        }
        copied += read;
    }
    return copied > 0 && ::FlushFileBuffers(target.value);
}

// The four numbers of the file's version record, "a.b.c.d"; empty without one.
std::string FileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<std::uint8_t> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (size == 0 || !::GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
        fixed == nullptr || fixedSize < sizeof *fixed) {
        return {};
    }
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

// Whether the window that asked for the step still waits for it: the process that started this
// one (the shell starts an elevated program as the requester's child) still runs.
bool StillWanted(HANDLE requester) {
    return requester == nullptr || ::WaitForSingleObject(requester, 0) == WAIT_TIMEOUT;
}

// Steps 1 to 5 for the offered file.
DownloadOutcome InstallOffered(const std::string& offeredPath, const std::string& offeredVersion,
                               HANDLE requester) {
    if (!HasSystemRights()) {
        return DownloadOutcome::NotAuthorized;
    }
    const std::wstring folder = MakeAdministratorsFolder();
    if (folder.empty()) {
        return DownloadOutcome::NoFolder;
    }
    const std::wstring copy = folder + L"\\" + kInstallerName;
    // Whatever happens, the copy and its folder go at the next restart (a started installer
    // still runs from it now).
    const auto removeLater = [&] {
        ::MoveFileExW(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    };
    if (!CopyOffered(Widen(offeredPath), copy)) {
        ::DeleteFileW(copy.c_str());
        ::RemoveDirectoryW(folder.c_str());
        return DownloadOutcome::NotARegularFile;
    }
    DownloadOutcome outcome = DownloadOutcome::Installing;
    const std::string version = FileVersion(copy);
    if (VerifyFileSignature(Narrow(copy)) != 1) {
        outcome = DownloadOutcome::SignatureInvalid;
    } else if (version.empty() || version != offeredVersion) {
        outcome = DownloadOutcome::NotOffered;
    } else if (!IsNewerVersion(version)) {
        outcome = DownloadOutcome::NotNewer;
    } else if (!StillWanted(requester)) {
        outcome = DownloadOutcome::Cancelled;
    } else {
        std::wstring commandLine = L"\"" + copy + L"\" /silent";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (::CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                             CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup, &started)) {
            ::CloseHandle(started.hThread);
            ::CloseHandle(started.hProcess);
        } else {
            outcome = DownloadOutcome::InstallFailed;
        }
    }
    if (outcome == DownloadOutcome::Installing) {
        removeLater();
    } else {
        ::DeleteFileW(copy.c_str());
        ::RemoveDirectoryW(folder.c_str());
    }
    return outcome;
}

}  // namespace

DownloadOutcome StartPrivilegedInstall(const std::string& packagePath, const std::string& version,
                                       const std::atomic<bool>* cancelled) {
    ElevatedStart step = StartElevatedProgram(
        GetProgramPath(), {"/installupdate", packagePath, version}, CurrentDirectory());
    if (!step.program.handle) {
        // The user declined the elevation prompt.
        return DownloadOutcome::NotAuthorized;
    }
    const HANDLE process = reinterpret_cast<HANDLE>(step.program.handle.Get());
    while (::WaitForSingleObject(process, 200) == WAIT_TIMEOUT) {
        if (cancelled != nullptr && cancelled->load()) {
            // The window has closed: nothing waits for the step any more. It runs to its end
            // (a started installer cannot be recalled), so it is left alone.
            return DownloadOutcome::Cancelled;
        }
    }
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process, &exitCode);
    return PrivilegedInstallOutcome(static_cast<int>(exitCode));
}

int RunPrivilegedInstall(const std::string& offeredPath, const std::string& offeredVersion) {
    Handle requester;
    requester.value = ::OpenProcess(
        SYNCHRONIZE, FALSE, ReadParentProcessId(static_cast<std::uint32_t>(CurrentProcessId())));
    const DownloadOutcome outcome = InstallOffered(
        offeredPath, offeredVersion, requester.value != nullptr ? requester.value : nullptr);
    if (outcome == DownloadOutcome::Installing) {
        QLOG(kLogInfo, "RunPrivilegedInstall", "Started the installer of " + offeredVersion);
    } else {
        const std::string text = DownloadOutcomeText(outcome);
        QLOG(kLogWarn, "RunPrivilegedInstall", "Refused " + offeredPath + ": " + text);
        std::fprintf(stderr, "quarnel-updater: %s\n", text.c_str());
    }
    return PrivilegedInstallExitCode(outcome);
}

}  // namespace quarnel
