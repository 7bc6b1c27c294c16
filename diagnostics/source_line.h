#pragma once

// The source line of a code address in a running process, from the debug information of the
// program or library mapped there (the file itself, or a separate debug file found by its build
// id or debug link below /usr/lib/debug).
//
// The lookup uses elfutils' libdw, loaded only when a lookup is made: the crash reporter is the
// only caller, so no other process maps it. Without libdw, without access to the process's
// mappings, or without line information for the address there is no answer.

#include <cstdint>
#include <optional>
#include <string>

namespace quarnel {

struct SourceLine {
    std::uint32_t line = 0;
    std::string file;  // without its folder
};

std::optional<SourceLine> FindSourceLine(std::uint32_t process, std::uint64_t address);

}  // namespace quarnel
