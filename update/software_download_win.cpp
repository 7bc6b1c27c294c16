// The software update's download on Windows: the maker's installer (quarnel-updater-setup.exe,
// its Authenticode signature embedded) into a private folder of the user, its signature checked
// against the pinned signer, then the elevated step (/installupdate), which checks a copy of its
// own again before it starts it.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "platform/wide_text_win.h"
#include "update/file_signature.h"
#include "update/software_update.h"

namespace quarnel {
namespace {

constexpr const wchar_t* kInstallerName = L"quarnel-updater-setup.exe";

bool Cancelled(const DownloadRequest& request) {
    return request.cancelled != nullptr && request.cancelled->load();
}

// A fresh folder with a random name in the user's temporary folder (which only the user, the
// system and the administrators may enter), removed with its files when it goes.
class PrivateFolder {
  public:
    explicit PrivateFolder(const std::string& base) {
        std::wstring parent = Widen(base);
        if (parent.empty()) {
            wchar_t temp[MAX_PATH + 1] = L"";
            const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
            if (length == 0 || length > MAX_PATH) {
                return;
            }
            parent = temp;
        }
        if (!parent.empty() && parent.back() != L'\\' && parent.back() != L'/') {
            parent += L'\\';
        }
        std::random_device random;
        for (int attempt = 0; attempt < 8 && path_.empty(); ++attempt) {
            const std::wstring candidate =
                parent + L"quarnel-update-" + std::to_wstring(random()) + std::to_wstring(random());
            // Made here or not at all: an existing name (planted by anyone) is never used.
            if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
                path_ = candidate;
            }
        }
    }
    ~PrivateFolder() {
        if (!path_.empty()) {
            ::DeleteFileW(File().c_str());
            ::RemoveDirectoryW(path_.c_str());
        }
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    bool Valid() const { return !path_.empty(); }
    std::wstring File() const { return path_ + L"\\" + kInstallerName; }

  private:
    std::wstring path_;
};

}  // namespace

DownloadOutcome DownloadSoftwareUpdate(const DownloadRequest& request) {
    UpdateOffer offer;
    if (const std::optional<DownloadOutcome> missing = ReadDownloadOffer(request.beta, offer)) {
        return *missing;
    }
    PrivateFolder folder(request.folderBase);
    if (!folder.Valid()) {
        return DownloadOutcome::NoFolder;
    }
    const std::wstring path = folder.File();
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return DownloadOutcome::NoFolder;
    }
    const bool downloaded =
        HttpDownloadToFile(offer.downloadUrl, reinterpret_cast<NativeHandle>(file), "GET", "", "",
                           "", "", "", request.context, {}, request.onProgress) != 0 &&
        LastHttpStatus() == 200;
    ::CloseHandle(file);
    if (Cancelled(request)) {
        return DownloadOutcome::Cancelled;
    }
    if (!downloaded) {
        return DownloadOutcome::DownloadFailed;
    }
    // The embedded signature, checked with the file held open against writers.
    if (VerifyFileSignature(Narrow(path)) != 1) {
        return DownloadOutcome::SignatureInvalid;
    }
    if (Cancelled(request)) {
        return DownloadOutcome::Cancelled;
    }
    return request.install ? request.install(Narrow(path), offer.version)
                           : DownloadOutcome::InstallFailed;
}

}  // namespace quarnel
