#pragma once

// The crash window: "Application Error" with the crash report, a "Send Crash Report" button,
// the upload's status and progress. The upload itself (ddns/crash_upload.h) runs on a thread of
// its own; the window only shows what it does.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

#include "ddns/http_client.h"
#include "ui/mailbox.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace quarnel {

inline constexpr const char* kCrashWindowTitle = "Application Error";
inline constexpr const char* kCrashSendText = "Send Crash Report";
inline constexpr const char* kCrashSendingText = "Sending crash report ...";
inline constexpr const char* kCrashFinishedText = "Finished sending crash report";
inline constexpr const char* kCrashSentTitle = "Crash Report";
inline constexpr const char* kCrashSentText = "Crash report successfully send, thanks!";

class CrashWindow : public QDialog {
  public:
    // Posts the report; the tracker's answer (header block) or the empty text. Runs on the
    // upload thread and calls onProgress there.
    using Send = std::function<std::string(const HttpProgressCallback& onProgress)>;
    // The success message ("Crash report successfully send, thanks!").
    using Notice = std::function<void(QWidget* parent)>;

    CrashWindow(std::string report, Send send, Notice notice = ShowSentNotice);
    ~CrashWindow() override;

    // The upload's progress, on the window's thread: only for context kCrashWindowId.
    void OnCrashReportProgress(std::int64_t context, std::uint64_t done, std::uint64_t total);

    QPushButton* SendButton() const { return send_button_; }
    QLabel* StatusText() const { return status_; }
    QProgressBar* Progress() const { return progress_; }
    QPlainTextEdit* Editor() const { return editor_; }

    static void ShowSentNotice(QWidget* parent);

  private:
    void StartSend();
    void Answered(const std::string& answer);

    std::string report_;
    Send send_;
    Notice notice_;
    QPushButton* send_button_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPlainTextEdit* editor_ = nullptr;
    SharedMailbox mailbox_;
};

}  // namespace quarnel
