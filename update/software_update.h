#pragma once

// The steps of the software update that need no window: reading the maker's offer from its
// /index.html, and downloading, verifying and handing on the installer. The update window runs
// them on its worker threads and shows what they report.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
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

// The maker's page at site, or the empty text; every answer is a result to the client, an
// error page too, so only a 200 counts.
std::string ReadMakerPage(const std::string& site);

// The version check: reads the maker's /index.html (identified, as the check-in is) and the
// channel's offer on it. An unreadable page or an error page gives an empty offer.
UpdateOffer CheckSoftwareVersion(bool beta);

// Every way a download and installation can end, for the window, the log and the exit code of
// the root step (update/privileged_install.h).
enum class DownloadOutcome {
    Installing,        // verified and installed
    NoPage,            // the maker's page could not be read
    NoDownload,        // no (unique, https, maker's) download URL for the channel
    NoFolder,          // no private folder for the download or for root's copy
    DownloadFailed,    // the installer did not arrive whole
    SignatureMissing,  // its signature did not arrive
    SignatureInvalid,  // not signed by the maker
    InstallFailed,     // the installer could not be started or failed
    NotARegularFile,   // the offered file is a link or no regular file any more
    NotThisProgram,    // the verified package is another package
    NotNewer,          // not newer than the installed version
    NotOffered,        // not the version the maker's page offered
    NotAuthorized,     // the administrator's password was not given (or the step is not root)
    Cancelled,         // the window closed first
};

// Where every download starts: the maker's page and its offer for the channel. NoPage or
// NoDownload when there is nothing to download; nothing when offer names its download.
std::optional<DownloadOutcome> ReadDownloadOffer(bool beta, UpdateOffer& offer);

// A sentence for the log (English).
std::string DownloadOutcomeText(DownloadOutcome outcome);
// The text id of the sentence the window shows (resources/string_table.cpp).
int DownloadOutcomeTextId(DownloadOutcome outcome);

// Installs the verified package at path (inside the private download folder) whose page offered
// version. The program's installer hands it to the root step, which checks it all again on a
// copy of its own; tests record the call instead.
using PackageInstaller =
    std::function<DownloadOutcome(const std::string& packagePath, const std::string& version)>;

struct DownloadRequest {
    bool beta = false;
    std::int64_t context = 0;
    HttpProgressCallback onProgress;  // the installer's download only
    PackageInstaller install;
    std::string folderBase;  // where the private folder is made; empty: $TMPDIR or /tmp
    // Set when the window closes: nothing more is downloaded, verified or installed.
    const std::atomic<bool>* cancelled = nullptr;
};

// Fetches the maker's page again, downloads the channel's installer into a private folder (on
// Linux with its detached signature), verifies it against the pinned signer (a quick answer for
// the user; the privileged step checks again on a copy of its own), and only then installs it.
// The folder goes afterwards, whatever the outcome.
DownloadOutcome DownloadSoftwareUpdate(const DownloadRequest& request);

}  // namespace quarnel
