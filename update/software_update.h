#pragma once

// The steps of the software update that need no window: reading the maker's offer from its
// /index.html, and downloading, verifying and handing on the installer. The update window runs
// them on its worker threads and shows what they report.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "ddns/http_client.h"

namespace quarnel {

// "https://" + the maker's site (endpoint "Website") + path.
std::string MakerSiteUrl(std::string_view path);

struct UpdateOffer {
    std::string version;      // as published; empty when the page has none
    bool newer = false;       // its fourth number is above this build
    std::string downloadUrl;  // empty unless it is an https URL on the maker's site
};

// The offer of a page for the channel (beta: the beta tags, with no fall-back to the release
// tags). A tag given twice counts as missing. The download URL must be https and name the host
// and port of siteUrl; any other URL is dropped.
UpdateOffer ReadUpdateOffer(std::string_view page, bool beta, std::string_view siteUrl);

// The version check: reads the maker's /index.html (identified, as the check-in is) and the
// channel's offer on it. An unreadable page or an error page gives an empty offer.
UpdateOffer CheckSoftwareVersion(bool beta);

enum class DownloadOutcome {
    Installing,        // verified and handed to the installer
    NoPage,            // the maker's page could not be read
    NoDownload,        // no (unique, https, maker's) download URL for the channel
    NoFolder,          // no private download folder
    DownloadFailed,    // the installer did not arrive whole
    SignatureMissing,  // its signature did not arrive
    SignatureInvalid,  // not signed by the maker
    InstallFailed,     // the installer could not be started
};

// A sentence for the user and the log.
std::string DownloadOutcomeText(DownloadOutcome outcome);

// Installs the verified package at path (inside the private download folder); true when the
// installation ran and succeeded. The program's installer runs apt-get (through pkexec when not
// root); tests record the call instead.
using PackageInstaller = std::function<bool(const std::string& packagePath)>;

struct DownloadRequest {
    bool beta = false;
    std::int64_t context = 0;
    HttpProgressCallback onProgress;  // the installer's download only
    PackageInstaller install;
    std::string folderBase;  // where the private folder is made; empty: $TMPDIR or /tmp
};

// Fetches the maker's page again, downloads the channel's installer and its signature into a
// private folder, verifies the installer's open file against the pinned signer, and only then
// installs it. The folder goes afterwards, whatever the outcome.
DownloadOutcome DownloadSoftwareUpdate(const DownloadRequest& request);

}  // namespace quarnel
