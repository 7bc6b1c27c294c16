#include <string>

#include "diagnostics/crash_handler.h"

namespace quarnel {

const char* CrashReportKindName(CrashReportKind kind) {
    switch (kind) {
        case CrashReportKind::Window:
            return "window";
        case CrashReportKind::Service:
            return "service";
        case CrashReportKind::Send:
            break;
    }
    return "send";
}

bool ParseCrashReportKind(const std::string& name, CrashReportKind& kind) {
    for (const CrashReportKind candidate :
         {CrashReportKind::Send, CrashReportKind::Window, CrashReportKind::Service}) {
        if (name == CrashReportKindName(candidate)) {
            kind = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace quarnel
