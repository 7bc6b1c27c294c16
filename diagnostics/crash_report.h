#pragma once

// The crash report: the exception code a fault is reported as, its description, and the report
// text. What the fault handler uses (CrashExceptionCode, CrashExceptionText, FormatCrashReport,
// FormatUnsigned) is safe inside a signal handler: no allocation, no locks, only the caller's
// buffer. The rest is for the reporter, which runs as a process of its own.
//
// The report's lines end in CR LF:
//   A critical program error was detected:
//   (empty)
//   Application:     Quarnel Updater
//   Build:           <build number>
//   (empty)
//   Error Message:   <description of the code>
//   Error Code:      <code as a signed 32-bit decimal>
//   Code Address:    <faulting instruction, decimal>
//   Target Address:  <address whose access failed, decimal>   (invalid memory access only)
//   Sourcecode line: Enable OnError lines support to get code line information.
//     (the crash reporter puts the source line in its place when debug information knows it:
//      "Sourcecode line: <line>" and "Sourcecode file: <file name without its folder>")
//   (empty)
//   Register content:
//   RAX = <decimal> ... R15 = <decimal>, Flags = <decimal>   (17 lines; x86-64 only)

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel {

inline constexpr std::uint32_t kCrashAccessViolation = 0xC0000005;
inline constexpr std::uint32_t kCrashStackOverflow = 0xC00000FD;
inline constexpr int kCrashRegisterCount = 17;

// What the fault handler learnt about one fault.
struct CrashDetails {
    std::uint32_t code = 0;
    std::uint64_t codeAddress = 0;
    std::uint64_t targetAddress = 0;  // reported for an invalid memory access only
    bool registersKnown = false;
    // RAX, RBX, RCX, RDX, RBP, RSI, RDI, RSP, R08 ... R15, Flags.
    std::uint64_t registers[kCrashRegisterCount] = {};
};

// The exception code of a fatal signal and its si_code. A SIGSEGV whose address lies just below
// or at the stack pointer is a stack overflow; any other SIGSEGV an invalid memory access.
std::uint32_t CrashExceptionCode(int signal, int signalCode, std::uint64_t faultAddress,
                                 std::uint64_t stackPointer);

// The description of a code; "Unknown error code" for any other.
const char* CrashExceptionText(std::uint32_t code);

// Writes the report into buffer (cut at capacity) and returns its length.
std::size_t FormatCrashReport(const CrashDetails& details, char* buffer, std::size_t capacity);

// Characters of a decimal number written into buffer (at most 20; no terminator).
std::size_t FormatUnsigned(std::uint64_t value, char* buffer);

// The line a report carries while its source line is unknown.
inline constexpr const char* kUnknownSourceLine =
    "Sourcecode line: Enable OnError lines support to get code line information.";

// The code address a report names; nothing when it names none.
std::optional<std::uint64_t> ReportedCodeAddress(std::string_view report);

// The report with its source line: the kUnknownSourceLine line replaced by "Sourcecode line: "
// and the line number, and "Sourcecode file: " and file. A report without that line is returned
// as it is.
std::string WithSourceLine(std::string_view report, std::uint32_t line, std::string_view file);

// The issue document posted to the tracker: project 1, the subject "Crash Report Build <build>",
// the report as description; both texts in CDATA sections, split where a text holds "]]>".
std::string BuildIssueDocument(std::string_view report);

// text as one or more CDATA sections that together read as text.
std::string CdataSections(std::string_view text);

}  // namespace quarnel
