#pragma once

// The identification digests that identified requests send as X-User-Ident and
// X-Hardware-Ident.

#include <string>
#include <string_view>

namespace quarnel {

// SHA-1 of the text's UTF-16LE code units (no terminator) as 40 lower-case hexadecimal digits;
// the empty text for an empty source, so that no header is sent for it.
std::string IdentityDigest(std::string_view text);

struct IdentityDigests {
    std::string user;      // of the recorded client identity
    std::string hardware;  // of the hardware profile identifier
};

// The process's digests. A digest that is still empty is computed now from its source; once
// computed it is kept for the life of the process. Safe to call from several threads.
IdentityDigests ObtainIdentityDigests();

}  // namespace quarnel
