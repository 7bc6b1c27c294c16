#include "update/software_update.h"

#include <optional>

#include "ddns/endpoints.h"
#include "ddns/request_url.h"
#include "update/download_folder.h"
#include "update/file_signature.h"
#include "update/meta_content.h"

namespace quarnel {
namespace {

bool IsMakerDownloadUrl(std::string_view url, std::string_view siteUrl) {
    const std::optional<RequestUrl> download = SplitRequestUrl(url);
    const std::optional<RequestUrl> site = SplitRequestUrl(siteUrl);
    return download && site && download->secure && download->host == site->host &&
           download->port == site->port && download->path.size() > 1;
}

}  // namespace

std::string MakerSiteUrl(std::string_view path) {
    return "https://" + GetEndpoint(Endpoint::Website) + std::string(path);
}

UpdateOffer ReadUpdateOffer(std::string_view page, bool beta, std::string_view siteUrl) {
    UpdateOffer offer;
    offer.version =
        GetUniqueMetaContent(page, beta ? kMetaSoftwareBetaVersion : kMetaSoftwareVersion);
    offer.newer = !offer.version.empty() && IsNewerVersion(offer.version);
    const std::string url =
        GetUniqueMetaContent(page, beta ? kMetaSoftwareBetaDownload : kMetaSoftwareDownload);
    if (IsMakerDownloadUrl(url, siteUrl)) {
        offer.downloadUrl = url;
    }
    return offer;
}

namespace {

// The maker's page, or the empty text; every answer is a result to the client, an error page
// too, so only a 200 counts.
std::string ReadMakerPage(const std::string& site) {
    std::string page = HttpRequestString(site, "GET", HttpFlagIdentify, "", "", "", "");
    return LastHttpStatus() == 200 ? page : std::string();
}

}  // namespace

UpdateOffer CheckSoftwareVersion(bool beta) {
    const std::string site = MakerSiteUrl("/index.html");
    return ReadUpdateOffer(ReadMakerPage(site), beta, site);
}

std::string DownloadOutcomeText(DownloadOutcome outcome) {
    switch (outcome) {
        case DownloadOutcome::Installing:
            return "the update was verified and is being installed";
        case DownloadOutcome::NoPage:
            return "the maker's update page could not be read";
        case DownloadOutcome::NoDownload:
            return "the maker's page names no usable download (https on the maker's site)";
        case DownloadOutcome::NoFolder:
            return "no private folder could be made for the update";
        case DownloadOutcome::DownloadFailed:
            return "the download did not arrive whole";
        case DownloadOutcome::SignatureMissing:
            return "the download's signature did not arrive";
        case DownloadOutcome::SignatureInvalid:
            return "the download is not signed by the maker; it was not installed";
        case DownloadOutcome::InstallFailed:
            return "the installation could not be started or failed";
        case DownloadOutcome::NotARegularFile:
            return "the downloaded file is missing or was replaced before the installation; it "
                   "was not installed";
        case DownloadOutcome::NotThisProgram:
            return "the download is not a package of this program; it was not installed";
        case DownloadOutcome::NotNewer:
            return "the download is not newer than the installed version; it was not installed";
        case DownloadOutcome::NotOffered:
            return "the download is not the version the maker offers; it was not installed";
        case DownloadOutcome::NotAuthorized:
            return "the installation was not authorized";
        case DownloadOutcome::Cancelled:
            return "the update was cancelled";
    }
    return "unknown";
}

int DownloadOutcomeTextId(DownloadOutcome outcome) {
    // The ids follow the outcomes' order, from 35211 on; Installing keeps its own text.
    return outcome == DownloadOutcome::Installing ? 35210 : 35210 + static_cast<int>(outcome);
}

namespace {

bool Cancelled(const DownloadRequest& request) {
    return request.cancelled != nullptr && request.cancelled->load();
}

}  // namespace

DownloadOutcome DownloadSoftwareUpdate(const DownloadRequest& request) {
    const std::string site = MakerSiteUrl("/index.html");
    const std::string page = ReadMakerPage(site);
    if (page.empty()) {
        return DownloadOutcome::NoPage;
    }
    const UpdateOffer offer = ReadUpdateOffer(page, request.beta, site);
    if (offer.downloadUrl.empty()) {
        return DownloadOutcome::NoDownload;
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
