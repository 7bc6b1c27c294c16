#pragma once

// The emulator's test certificates, made with libcrypto on first use in a folder:
//   ca.pem                       the test CA that clients trust (SSL_CERT_FILE=<folder>/ca.pem)
//   server.pem, server-key.pem   valid, for localhost, 127.0.0.1 and ::1
//   other-name.pem, ...-key.pem  valid, but only for other-name.invalid
//   expired.pem, ...-key.pem     for localhost and 127.0.0.1, expired since yesterday
// (ca-key.pem holds the CA's key). Existing files are used as they are; when any is missing all
// are made anew. Private keys are written readable by the owner only.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace emulator {

struct X509Deleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

struct CertifiedKey {
    std::unique_ptr<X509, X509Deleter> certificate;
    std::unique_ptr<EVP_PKEY, KeyDeleter> key;
};

struct TestCertificates {
    CertifiedKey server;
    CertifiedKey otherName;
    CertifiedKey expired;
};

// Makes (when needed) and loads the certificates; false with a message on stderr on failure.
bool LoadTestCertificates(const std::string& folder, TestCertificates& certificates);

}  // namespace emulator
