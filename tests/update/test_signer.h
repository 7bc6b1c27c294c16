#pragma once

#include <string>

namespace quarnel::test {

// Signs the file at path with a signer of the build's test-signing folder ("test-signer",
// "other-signer"), writing the detached DER signature to signaturePath; false on failure.
bool SignFile(const std::string& path, const std::string& signer, const std::string& signaturePath);

// Signs with a fresh key whose certificate the named signer issued: a signer the named one
// vouches for, but not the named one itself.
bool SignFileWithIssuedCertificate(const std::string& path, const std::string& issuer,
                                   const std::string& signaturePath);

}  // namespace quarnel::test
