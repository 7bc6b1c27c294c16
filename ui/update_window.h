#pragma once

// The update window: what the maker offers, the Install button, the download's progress and the
// change log. The Qt-free steps (update/software_update.h) run on worker threads; they report
// back through queued calls, so only the user-interface thread touches the controls.

#include <QDialog>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "update/software_update.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace quarnel {

struct UpdateWindowOperations {
    std::function<UpdateOffer(bool beta)> check = CheckSoftwareVersion;
    std::function<DownloadOutcome(const DownloadRequest&)> download = DownloadSoftwareUpdate;
    PackageInstaller install;  // empty: the system's package installer
    std::string folderBase;    // where the private download folder is made; empty: $TMPDIR
};

class UpdateWindow : public QDialog {
  public:
    UpdateWindow(bool beta, UpdateWindowOperations operations);
    ~UpdateWindow() override;
    UpdateWindow(const UpdateWindow&) = delete;
    UpdateWindow& operator=(const UpdateWindow&) = delete;

    // Starts the version check. A newer version shows the window with Install enabled; anything
    // else closes it without a trace (the window is never shown then).
    void Start();

    QString StatusText() const;
    bool InstallEnabled() const;
    // Presses Install: disabled, then the download, verification and installation.
    void Install();
    // The outcome of the last download once it is over, else empty.
    std::optional<DownloadOutcome> LastOutcome() const { return lastOutcome_; }

  private:
    void OfferChecked(const UpdateOffer& offer);
    void DownloadProgress(std::uint64_t received, std::uint64_t total);
    void DownloadEnded(DownloadOutcome outcome);
    // Runs work on the user-interface thread, later; never after the window is gone, as the
    // worker threads are joined first.
    void Post(std::function<void()> work);

    bool beta_;
    UpdateWindowOperations operations_;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* install_ = nullptr;
    std::thread checker_;
    std::thread downloader_;
    std::optional<DownloadOutcome> lastOutcome_;
};

// The update mode's window until it closes; returns the exit code (0).
std::int64_t RunUpdateWindows(bool beta);

}  // namespace quarnel
