// The software update's download on Linux: the installer (a Debian package) and its detached
// signature into a private folder, the signature checked on the open files, then the root step.

#include <optional>
#include <string>

#include "update/download_folder.h"
#include "update/file_signature.h"
#include "update/software_update.h"

namespace quarnel {
namespace {

bool Cancelled(const DownloadRequest& request) {
    return request.cancelled != nullptr && request.cancelled->load();
}

}  // namespace

DownloadOutcome DownloadSoftwareUpdate(const DownloadRequest& request) {
    UpdateOffer offer;
    if (const std::optional<DownloadOutcome> missing = ReadDownloadOffer(request.beta, offer)) {
        return *missing;
    }
    PrivateDownloadFolder folder(request.folderBase);
    if (!folder.Valid()) {
        return DownloadOutcome::NoFolder;
    }
    const std::string name = "quarnel-updater.deb";
    const UniqueFd package = folder.CreateFile(name);
    const UniqueFd signature = folder.CreateFile(name + kSignatureSuffix);
    if (!package || !signature) {
        return DownloadOutcome::NoFolder;
    }
    const bool downloaded =
        HttpDownloadToFile(offer.downloadUrl, package.Get(), "GET", "", "", "", "", "",
                           request.context, {}, request.onProgress) != 0 &&
        LastHttpStatus() == 200;
    if (Cancelled(request)) {
        return DownloadOutcome::Cancelled;
    }
    if (!downloaded) {
        return DownloadOutcome::DownloadFailed;
    }
    if (HttpDownloadToFile(offer.downloadUrl + kSignatureSuffix, signature.Get(), "GET", "", "", "",
                           "") == 0 ||
        LastHttpStatus() != 200) {
        return Cancelled(request) ? DownloadOutcome::Cancelled : DownloadOutcome::SignatureMissing;
    }
    if (VerifyOpenFileSignature(package.Get(), signature.Get()) != 1) {
        return DownloadOutcome::SignatureInvalid;
    }
    if (Cancelled(request)) {
        return DownloadOutcome::Cancelled;
    }
    // Only this user's processes can change the private folder; the root step therefore checks
    // the file again on a copy of its own and installs nothing it has not verified itself.
    const std::string packagePath = folder.Path() + "/" + name;
    return request.install ? request.install(packagePath, offer.version)
                           : DownloadOutcome::InstallFailed;
}

}  // namespace quarnel
