#pragma once

// The update window: what the maker offers, the Install button, the download's progress and the
// change log. The Qt-free steps (update/software_update.h) run on worker threads; they report
// back through queued calls, so only the user-interface thread touches the controls.

#include <QSystemTrayIcon>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "update/software_update.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace quarnel {

struct UpdateWindowOperations {
    std::function<UpdateOffer(bool beta)> check = CheckSoftwareVersion;
    std::function<DownloadOutcome(const DownloadRequest&)> download = DownloadSoftwareUpdate;
    PackageInstaller install;  // empty: the root step through pkexec (update/privileged_install.h)
    // The channel as stored now (SoftwareBeta not 0: beta), read when told it may have changed.
    std::function<bool()> storedBeta;  // empty: the machine's settings
    std::string folderBase;            // where the private download folder is made; empty: $TMPDIR
    // Whether the desktop has a tray to offer the update in; without one the window opens.
    std::function<bool()> trayAvailable = QSystemTrayIcon::isSystemTrayAvailable;
};

class UpdateWindow : public QWidget {
  public:
    UpdateWindow(bool beta, UpdateWindowOperations operations);
    ~UpdateWindow() override;
    UpdateWindow(const UpdateWindow&) = delete;
    UpdateWindow& operator=(const UpdateWindow&) = delete;

    // Starts the version check. A newer version is offered with a tray icon and its balloon
    // (without a tray: the window opens) and Install is enabled; anything else closes the window
    // without a trace (it is never shown then).
    void Start();
    // The balloon or the tray icon clicked: the icon goes and the window comes to the front.
    void OpenFromTray();
    // An instance message: quit closes the window (cancelling), a changed channel is checked.
    void InstanceMessage(std::int32_t code);
    // The stored channel may have changed: unless a download runs, the offer of the old channel
    // goes and the new channel is checked.
    void CheckChannelAgain();
    bool Beta() const { return beta_; }
    // Called when the window closes, also when it closes without ever being shown. Closing
    // cancels: a download or check in progress ends, nothing is installed afterwards, and the
    // private folder goes.
    void OnClosed(std::function<void()> closed) { closed_ = std::move(closed); }
    // The message of the balloon shown, else empty.
    const std::string& BalloonMessage() const { return balloonMessage_; }

    QString StatusText() const;
    bool InstallEnabled() const;
    // Presses Install: disabled, then the download, verification and installation.
    void Install();
    // The outcome of the last download once it is over, else empty.
    std::optional<DownloadOutcome> LastOutcome() const { return lastOutcome_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void StartCheck();
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
    QSystemTrayIcon tray_;
    std::string balloonMessage_;
    std::function<void()> closed_;
    int checkGeneration_ = 0;  // only the latest check's offer counts
    std::vector<std::thread> checkers_;
    std::thread downloader_;
    std::atomic<bool> cancelled_{false};
    bool stoppedExchanges_ = false;
    std::optional<DownloadOutcome> lastOutcome_;
};

// The update mode's window until it closes; returns the exit code (0).
std::int64_t RunUpdateWindows(bool beta);

}  // namespace quarnel
