#pragma once

// What an administrator sees without any debug log: when the service cannot do its work (no
// connectivity, no public address, no answer from the provider, the provider refused, no
// account set up, the outcome cannot be stored), one line says so on standard error, which
// systemd puts in the journal. The line comes once when the condition begins and once when the
// service works again, never once per retry, whatever LOGLEVEL is.

#include <functional>
#include <string>
#include <string_view>

namespace quarnel {

enum class ServiceCondition {
    Working,
    NoConnectivity,
    NoAddress,
    NoAnswer,
    Refused,
    NotConfigured,
};

// Notice priorities, as syslog numbers them.
inline constexpr int kNoticeError = 3;
inline constexpr int kNoticeWarning = 4;
inline constexpr int kNoticeInformation = 6;

using NoticeWriter = std::function<void(int priority, const std::string& text)>;

// Remembers the condition last told and tells a new one.
class ConditionNotices {
  public:
    // detail completes the line (the probe host, the provider's answer); it is not compared, so
    // a condition that stays is not told again when only its detail changes.
    void Note(ServiceCondition condition, std::string_view detail, const NoticeWriter& write);
    // The store's condition, told beside the others: whether the outcome could be written there
    // (detail names what failed).
    void NoteStore(bool written, std::string_view detail, const NoticeWriter& write);

  private:
    ServiceCondition last_ = ServiceCondition::Working;
    bool storeFailing_ = false;
};

// Writes one line to standard error; under systemd (JOURNAL_STREAM set) with the "<N>" prefix
// that gives the journal entry its priority.
void WriteNoticeToStandardError(int priority, const std::string& text);

}  // namespace quarnel
