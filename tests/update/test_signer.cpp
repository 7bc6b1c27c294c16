#include "tests/update/test_signer.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace quarnel::test {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo, CMS_ContentInfo_free>>;

std::string SignerPath(const std::string& signer, const char* extension) {
    return std::string(QUARNEL_TEST_SIGNING_DIR) + "/" + signer + extension;
}

bool Sign(const std::string& path, X509* cert, EVP_PKEY* key, const std::string& signaturePath) {
    BioPtr data(BIO_new_file(path.c_str(), "rb"));
    CmsPtr cms(data ? CMS_sign(cert, key, nullptr, data.get(), CMS_BINARY | CMS_DETACHED)
                    : nullptr);
    BioPtr out(BIO_new_file(signaturePath.c_str(), "wb"));
    return cms && out && i2d_CMS_bio(out.get(), cms.get()) == 1;
}

bool Load(const std::string& signer, CertPtr& cert, KeyPtr& key) {
    BioPtr certBio(BIO_new_file(SignerPath(signer, ".pem").c_str(), "r"));
    BioPtr keyBio(BIO_new_file(SignerPath(signer, ".key").c_str(), "r"));
    if (!certBio || !keyBio) {
        return false;
    }
    cert.reset(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    key.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    return cert && key;
}

}  // namespace

bool SignFile(const std::string& path, const std::string& signer,
              const std::string& signaturePath) {
    CertPtr cert;
    KeyPtr key;
    return Load(signer, cert, key) && Sign(path, cert.get(), key.get(), signaturePath);
}

bool SignFileWithIssuedCertificate(const std::string& path, const std::string& issuer,
                                   const std::string& signaturePath) {
    CertPtr issuerCert;
    KeyPtr issuerKey;
    if (!Load(issuer, issuerCert, issuerKey)) {
        return false;
    }
    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert(X509_new());
    if (!key || !cert) {
        return false;
    }
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Someone vouched for"), -1,
                               -1, 0);
    const bool made =
        X509_set_version(cert.get(), 2) == 1 &&
        ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 7) == 1 &&
        X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert.get())) == 1 &&
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 365) != nullptr &&
        X509_set_pubkey(cert.get(), key.get()) == 1 &&
        X509_sign(cert.get(), issuerKey.get(), EVP_sha256()) > 0;
    return made && Sign(path, cert.get(), key.get(), signaturePath);
}

}  // namespace quarnel::test
