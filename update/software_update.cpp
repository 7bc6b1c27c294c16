#include "update/software_update.h"

#include <optional>

#include "ddns/endpoints.h"
#include "ddns/request_url.h"
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

std::string ReadMakerPage(const std::string& site) {
    std::string page = HttpRequestString(site, "GET", HttpFlagIdentify, "", "", "", "");
    return LastHttpStatus() == 200 ? page : std::string();
}

UpdateOffer CheckSoftwareVersion(bool beta) {
    const std::string site = MakerSiteUrl("/index.html");
    return ReadUpdateOffer(ReadMakerPage(site), beta, site);
}

std::optional<DownloadOutcome> ReadDownloadOffer(bool beta, UpdateOffer& offer) {
    const std::string site = MakerSiteUrl("/index.html");
    const std::string page = ReadMakerPage(site);
    if (page.empty()) {
        return DownloadOutcome::NoPage;
    }
    offer = ReadUpdateOffer(page, beta, site);
    if (offer.downloadUrl.empty()) {
        return DownloadOutcome::NoDownload;
    }
    return std::nullopt;
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

}  // namespace quarnel
