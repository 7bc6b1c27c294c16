#include <cstdint>
#include <optional>

#include "diagnostics/source_line.h"

namespace quarnel {

// The Windows program carries no debug information that a lookup could use (MinGW's DWARF lines
// are stripped from the release build and no PDB is made), so the report keeps its placeholder
// line.
std::optional<SourceLine> FindSourceLine(std::uint32_t /*process*/, std::uint64_t /*address*/) {
    return std::nullopt;
}

}  // namespace quarnel
