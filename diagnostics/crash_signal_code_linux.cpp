#include <signal.h>

#include <cstdint>

#include "diagnostics/crash_report.h"

// The exception codes of Linux's fatal signals (Windows reports the codes themselves).

namespace quarnel {
namespace {

// How far below the stack pointer a fault still counts as running out of stack (the largest
// frame a single call pushes before touching it).
constexpr std::uint64_t kStackProbeReach = 64 * 1024;

std::uint32_t SegvCode(std::uint64_t faultAddress, std::uint64_t stackPointer) {
    const bool nearStack = stackPointer != 0 && faultAddress <= stackPointer + 4096 &&
                           faultAddress + kStackProbeReach >= stackPointer;
    return nearStack ? kCrashStackOverflow : kCrashAccessViolation;
}

}  // namespace

std::uint32_t CrashExceptionCode(int signal, int signalCode, std::uint64_t faultAddress,
                                 std::uint64_t stackPointer) {
    switch (signal) {
        case SIGSEGV:
            return SegvCode(faultAddress, stackPointer);
        case SIGBUS:
            return signalCode == BUS_ADRALN ? 0x80000002 : 0xC0000006;
        case SIGFPE:
            switch (signalCode) {
                case FPE_INTDIV:
                    return 0xC0000094;
                case FPE_INTOVF:
                    return 0xC0000095;
                case FPE_FLTDIV:
                    return 0xC000008E;
                case FPE_FLTOVF:
                    return 0xC0000091;
                case FPE_FLTUND:
                    return 0xC0000093;
                case FPE_FLTRES:
                    return 0xC000008F;
                case FPE_FLTSUB:
                    return 0xC000008C;
                default:
                    return 0xC0000090;
            }
        case SIGILL:
            return signalCode == ILL_PRVOPC || signalCode == ILL_PRVREG ? 0xC0000096 : 0xC000001D;
        case SIGTRAP:
            return signalCode == TRAP_TRACE ? 0x80000004 : 0x80000003;
        default:
            return 0;
    }
}

}  // namespace quarnel
