#pragma once

// The cryptography of the program, run in the helper process so that the program itself maps no
// cryptographic library: the password cipher (AES-256-CBC with ciphertext stealing, CS2
// arrangement), the MD5 and SHA-1 digests and the check of a detached CMS signature against one
// certificate. Requests are laid out as platform/crypto_request.h describes; answers are:
//   Encrypt, Decrypt   the enciphered or deciphered data, exactly as long as the data
//   Md5, Sha1          the raw digest (16 or 20 bytes)
//   VerifySignature    kSignatureVerified when the signature over the content verifies and every
//                      signer is the request's certificate itself, else kSignatureNotVerified
// The helper trusts no certificate of its own: the certificate comes with the request from the
// program, which pins it, and is used only to answer whether it made this signature.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/helper_call.h"

namespace quarnel {

// The content and the signature of VerifySignature, as the helper receives them.
inline constexpr std::array<int, 2> kSignatureDescriptors = {3, 4};

// The answer to the request, or nothing when the operation is not a cryptographic one, the
// request is malformed or the library fails. descriptors[0] and [1] are the open content and
// signature files of VerifySignature (read from their start; left open).
std::optional<std::string> RunCryptoOperation(
    HelperOperation operation, std::string_view request,
    std::span<const int> descriptors = kSignatureDescriptors);

}  // namespace quarnel
