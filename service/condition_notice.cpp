#include "service/condition_notice.h"

#include <cstdio>
#include <cstdlib>

namespace quarnel {

void ConditionNotices::Note(ServiceCondition condition, std::string_view detail,
                            const NoticeWriter& write) {
    if (condition == last_) {
        return;
    }
    const ServiceCondition previous = last_;
    last_ = condition;
    if (!write) {
        return;
    }
    const std::string extra(detail);
    switch (condition) {
        case ServiceCondition::Working:
            if (previous != ServiceCondition::Working) {
                write(kNoticeInformation, "The address update works again");
            }
            break;
        case ServiceCondition::NoConnectivity:
            write(kNoticeWarning,
                  "No internet connectivity: " + extra + " does not resolve; trying again");
            break;
        case ServiceCondition::NoAddress:
            write(kNoticeWarning, "The public address could not be learnt; trying again");
            break;
        case ServiceCondition::NoAnswer:
            write(kNoticeWarning,
                  "No answer from the update service (" + extra + "); sending again later");
            break;
        case ServiceCondition::Refused:
            write(kNoticeError, "The update service refused the update: " + extra +
                                    "; no further update until the settings change");
            break;
        case ServiceCondition::NotConfigured:
            write(kNoticeError, "No user name is set; no update until the settings change");
            break;
    }
}

void ConditionNotices::NoteStore(bool written, std::string_view detail, const NoticeWriter& write) {
    if (written != storeFailing_) {
        return;
    }
    storeFailing_ = !written;
    if (!write) {
        return;
    }
    if (written) {
        write(kNoticeInformation, "The outcome is written to the store again");
    } else {
        write(kNoticeError, "The outcome cannot be written to the store (" + std::string(detail) +
                                "); it is kept in memory and written once the store takes it");
    }
}

void WriteNoticeToStandardError(int priority, const std::string& text) {
    const char* journal = std::getenv("JOURNAL_STREAM");
    if (journal != nullptr && *journal != '\0') {
        std::fprintf(stderr, "<%d>%s\n", priority, text.c_str());
    } else {
        std::fprintf(stderr, "quarnel-updater: %s\n", text.c_str());
    }
    std::fflush(stderr);
}

}  // namespace quarnel
