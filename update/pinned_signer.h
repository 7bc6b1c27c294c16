#pragma once

// The maker's certificate pinned in the program, and the comparison that decides whether a
// signature's signer is that very certificate. Whatever else vouches for a signer (a system's
// trusted roots, a lenient verifier) never counts: only this comparison does.

#include <cstdint>
#include <string_view>
#include <vector>

namespace quarnel {

// The pinned certificate as PEM text; empty when the build pinned none.
std::string_view PinnedCertificate();

// The DER bytes of the first certificate in PEM text; empty when there is none or its Base64 is
// malformed.
std::vector<std::uint8_t> CertificateDerFromPem(std::string_view pem);

// Whether signerDer is exactly the certificate in pinnedPem (byte for byte; an empty pin or
// signer never matches).
bool IsPinnedSigner(std::string_view pinnedPem, const std::vector<std::uint8_t>& signerDer);

}  // namespace quarnel
