#pragma once

// Temporary stand-in: the operation codes of the helper process, until the caller side of the
// helper call is merged (it replaces this file).

#include <cstdint>

namespace quarnel {

enum class HelperOperation : std::uint8_t {
    Transfer = 1,
    Encrypt = 2,
    Decrypt = 3,
    Md5 = 4,
    Sha1 = 5,
    VerifySignature = 6,
};

}  // namespace quarnel
