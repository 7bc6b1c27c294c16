#include "diagnostics/crash_report.h"

#include <charconv>
#include <system_error>

namespace quarnel {
namespace {

#ifndef QUARNEL_BUILD_NUMBER
#error "the build defines QUARNEL_BUILD_NUMBER"
#endif
constexpr std::uint64_t kBuildNumber = QUARNEL_BUILD_NUMBER;

struct CodeText {
    std::uint32_t code;
    const char* text;
};

constexpr CodeText kCodeTexts[] = {
    {0xC0000005, "Invalid memory access"},
    {0xC000008C, "Array bounds exceeded"},
    {0x80000003, "Debugger breakpoint reached"},
    {0x80000002, "Misaligned data access"},
    {0xC000008D, "Denormal floating-point operand"},
    {0xC000008E, "Division by zero (floating-point)"},
    {0xC000008F, "Inexact floating-point result"},
    {0xC0000090, "Invalid floating-point operation"},
    {0xC0000091, "Floating-point overflow (exponent to great)"},
    {0xC0000092, "Floating-point stack overflow or underflow"},
    {0xC0000093, "Floating-point underflow (exponent too small)"},
    {0xC000001D, "Illegal instruction"},
    {0xC0000006, "Memory page error"},
    {0xC0000094, "Division by zero "},
    {0xC0000095, "Integer overflow"},
    {0xC0000026, "Exception handler returned unknown value"},
    {0xC0000025, "Exception handler tried to continue after non-continuable exception"},
    {0xC0000096, "Privileged instruction"},
    {0x80000004, "Single step trap"},
    {0xC00000FD, "Stack overflow"},
};

constexpr const char* kRegisterNames[kCrashRegisterCount] = {
    "RAX", "RBX", "RCX", "RDX", "RBP", "RSI", "RDI", "RSP",  "R08",
    "R09", "R10", "R11", "R12", "R13", "R14", "R15", "Flags"};

// Appends to a fixed buffer; what does not fit is dropped.
class Writer {
  public:
    Writer(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}
    Writer& Text(const char* text) {
        while (*text != '\0') {
            Put(*text++);
        }
        return *this;
    }
    Writer& Unsigned(std::uint64_t value) {
        char digits[20];
        const std::size_t count = FormatUnsigned(value, digits);
        for (std::size_t i = 0; i < count; ++i) {
            Put(digits[i]);
        }
        return *this;
    }
    Writer& Signed(std::int64_t value) {
        if (value < 0) {
            Put('-');
            return Unsigned(0 - static_cast<std::uint64_t>(value));
        }
        return Unsigned(static_cast<std::uint64_t>(value));
    }
    Writer& Line() { return Text("\r\n"); }
    std::size_t Length() const { return length_; }

  private:
    void Put(char c) {
        if (length_ < capacity_) {
            buffer_[length_++] = c;
        }
    }
    char* buffer_;
    std::size_t capacity_;
    std::size_t length_ = 0;
};

}  // namespace

const char* CrashExceptionText(std::uint32_t code) {
    for (const CodeText& entry : kCodeTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return "Unknown error code";
}

std::size_t FormatUnsigned(std::uint64_t value, char* buffer) {
    char reversed[20];
    std::size_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (std::size_t i = 0; i < count; ++i) {
        buffer[i] = reversed[count - 1 - i];
    }
    return count;
}

std::size_t FormatCrashReport(const CrashDetails& details, char* buffer, std::size_t capacity) {
    Writer out(buffer, capacity);
    out.Text("A critical program error was detected:").Line().Line();
    out.Text("Application:     Quarnel Updater").Line();
    out.Text("Build:           ").Unsigned(kBuildNumber).Line().Line();
    out.Text("Error Message:   ").Text(CrashExceptionText(details.code)).Line();
    out.Text("Error Code:      ").Signed(static_cast<std::int32_t>(details.code)).Line();
    out.Text("Code Address:    ").Unsigned(details.codeAddress).Line();
    if (details.code == kCrashAccessViolation) {
        out.Text("Target Address:  ").Unsigned(details.targetAddress).Line();
    }
    out.Text(kUnknownSourceLine).Line();
    out.Line().Text("Register content:").Line();
    if (details.registersKnown) {
        for (int i = 0; i < kCrashRegisterCount; ++i) {
            out.Text(kRegisterNames[i]).Text(" = ").Unsigned(details.registers[i]).Line();
        }
    }
    return out.Length();
}

std::optional<std::uint64_t> ReportedCodeAddress(std::string_view report) {
    constexpr std::string_view kLabel = "\r\nCode Address:    ";
    const std::size_t found = report.find(kLabel);
    if (found == std::string_view::npos) {
        return std::nullopt;
    }
    std::uint64_t address = 0;
    const char* first = report.data() + found + kLabel.size();
    const char* last = report.data() + report.size();
    const auto [end, error] = std::from_chars(first, last, address);
    if (error != std::errc() || end == first || !std::string_view(end, last).starts_with("\r\n")) {
        return std::nullopt;
    }
    return address;
}

std::string WithSourceLine(std::string_view report, std::uint32_t line, std::string_view file) {
    const std::string unknown = std::string("\r\n") + kUnknownSourceLine + "\r\n";
    const std::size_t found = report.find(unknown);
    if (found == std::string_view::npos) {
        return std::string(report);
    }
    std::string result(report.substr(0, found));
    result += "\r\nSourcecode line: " + std::to_string(line) + "\r\nSourcecode file: ";
    result += file;
    result += "\r\n";
    result += report.substr(found + unknown.size());
    return result;
}

std::string CdataSections(std::string_view text) {
    // "]]>" cannot stand inside a section: end the section between "]]" and ">".
    std::string result = "<![CDATA[";
    std::size_t start = 0;
    for (std::size_t found = text.find("]]>"); found != std::string_view::npos;
         found = text.find("]]>", start)) {
        result.append(text.substr(start, found + 2 - start));
        result += "]]><![CDATA[";
        start = found + 2;
    }
    result.append(text.substr(start));
    result += "]]>";
    return result;
}

std::string BuildIssueDocument(std::string_view report) {
    return "<?xml version=\"1.0\"?>\r\n<issue><project_id>1</project_id><subject>" +
           CdataSections("Crash Report Build " + std::to_string(kBuildNumber)) +
           "</subject><description>" + CdataSections(report) + "</description></issue>";
}

}  // namespace quarnel
