#include "tools/provider-emulator/test_certificates.h"

#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace emulator {
namespace {

constexpr long kDay = 24 * 60 * 60;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

std::unique_ptr<EVP_PKEY, KeyDeleter> NewKey() {
    return std::unique_ptr<EVP_PKEY, KeyDeleter>(EVP_EC_gen("P-256"));
}

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (extension == nullptr) {
        return false;
    }
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A certificate for `key`, signed by issuerKey (itself when issuer is null: the CA).
std::unique_ptr<X509, X509Deleter> MakeCertificate(EVP_PKEY* key, const char* commonName,
                                                   X509* issuer, EVP_PKEY* issuerKey,
                                                   long notBeforeSeconds, long notAfterSeconds,
                                                   const char* subjectAltName) {
    std::unique_ptr<X509, X509Deleter> certificate(X509_new());
    if (!certificate) {
        return nullptr;
    }
    X509* cert = certificate.get();
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    ASN1_INTEGER* serialNumber = BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert));
    BN_free(number);
    X509_NAME* name = X509_get_subject_name(cert);
    const bool ok = serialNumber != nullptr && X509_set_version(cert, 2) == 1 &&
                    X509_gmtime_adj(X509_getm_notBefore(cert), notBeforeSeconds) != nullptr &&
                    X509_gmtime_adj(X509_getm_notAfter(cert), notAfterSeconds) != nullptr &&
                    X509_set_pubkey(cert, key) == 1 &&
                    X509_NAME_add_entry_by_txt(
                        name, "O", MBSTRING_ASC,
                        reinterpret_cast<const unsigned char*>("Quarnel Test"), -1, -1, 0) == 1 &&
                    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                               reinterpret_cast<const unsigned char*>(commonName),
                                               -1, -1, 0) == 1 &&
                    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name) == 1;
    if (!ok) {
        return nullptr;
    }
    X509* signer = issuer ? issuer : cert;
    bool extended = AddExtension(cert, signer, NID_subject_key_identifier, "hash");
    if (issuer == nullptr) {
        extended = extended &&
                   AddExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE") &&
                   AddExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        extended = extended && AddExtension(cert, signer, NID_basic_constraints, "CA:FALSE") &&
                   AddExtension(cert, signer, NID_authority_key_identifier, "keyid") &&
                   AddExtension(cert, signer, NID_key_usage, "critical,digitalSignature") &&
                   AddExtension(cert, signer, NID_ext_key_usage, "serverAuth") &&
                   AddExtension(cert, signer, NID_subject_alt_name, subjectAltName);
    }
    if (!extended || X509_sign(cert, issuerKey, EVP_sha256()) == 0) {
        return nullptr;
    }
    return certificate;
}

bool WriteCertificate(const std::string& path, X509* certificate) {
    UniqueFile file(std::fopen(path.c_str(), "we"));
    return file && PEM_write_X509(file.get(), certificate) == 1;
}

bool WriteKey(const std::string& path, EVP_PKEY* key) {
    ::unlink(path.c_str());
    const mode_t old = ::umask(077);
    UniqueFile file(std::fopen(path.c_str(), "we"));
    ::umask(old);
    return file &&
           PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
}

bool FileExists(const std::string& path) {
    struct stat info = {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool Generate(const std::string& folder) {
    auto caKey = NewKey();
    if (!caKey) {
        return false;
    }
    auto ca = MakeCertificate(caKey.get(), "Quarnel Test CA", nullptr, caKey.get(), -kDay,
                              3650 * kDay, nullptr);
    if (!ca || !WriteCertificate(folder + "/ca.pem", ca.get()) ||
        !WriteKey(folder + "/ca-key.pem", caKey.get())) {
        return false;
    }
    struct Leaf {
        const char* file;
        const char* commonName;
        const char* altNames;
        long notBefore;
        long notAfter;
    };
    const Leaf leaves[] = {
        {"server", "localhost", "DNS:localhost,IP:127.0.0.1,IP:::1", -kDay, 825 * kDay},
        {"other-name", "other-name.invalid", "DNS:other-name.invalid", -kDay, 825 * kDay},
        {"expired", "localhost", "DNS:localhost,IP:127.0.0.1,IP:::1", -30 * kDay, -kDay},
    };
    for (const Leaf& leaf : leaves) {
        auto key = NewKey();
        if (!key) {
            return false;
        }
        auto certificate = MakeCertificate(key.get(), leaf.commonName, ca.get(), caKey.get(),
                                           leaf.notBefore, leaf.notAfter, leaf.altNames);
        const std::string base = folder + "/" + leaf.file;
        if (!certificate || !WriteCertificate(base + ".pem", certificate.get()) ||
            !WriteKey(base + "-key.pem", key.get())) {
            return false;
        }
    }
    return true;
}

bool Load(const std::string& base, CertifiedKey& out) {
    UniqueFile certificateFile(std::fopen((base + ".pem").c_str(), "re"));
    UniqueFile keyFile(std::fopen((base + "-key.pem").c_str(), "re"));
    if (!certificateFile || !keyFile) {
        return false;
    }
    out.certificate.reset(PEM_read_X509(certificateFile.get(), nullptr, nullptr, nullptr));
    out.key.reset(PEM_read_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr));
    return out.certificate && out.key;
}

}  // namespace

bool LoadTestCertificates(const std::string& folder, TestCertificates& certificates) {
    const char* const names[] = {"ca",         "ca-key",         "server",  "server-key",
                                 "other-name", "other-name-key", "expired", "expired-key"};
    bool complete = true;
    for (const char* name : names) {
        complete = complete && FileExists(folder + "/" + name + ".pem");
    }
    if (!complete && !Generate(folder)) {
        std::fprintf(stderr, "provider-emulator: cannot make test certificates in %s\n",
                     folder.c_str());
        return false;
    }
    if (!Load(folder + "/server", certificates.server) ||
        !Load(folder + "/other-name", certificates.otherName) ||
        !Load(folder + "/expired", certificates.expired)) {
        std::fprintf(stderr, "provider-emulator: cannot read test certificates in %s\n",
                     folder.c_str());
        return false;
    }
    return true;
}

}  // namespace emulator
