#include "update/file_signature.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <memory>

#include "platform/unique_fd.h"

namespace quarnel {
namespace embedded {
struct Entry {
    const char* name;
    const std::uint8_t* data;
    std::size_t size;
};
extern const Entry kSigningCertificate[];
extern const std::size_t kSigningCertificateCount;
}  // namespace embedded

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct StoreFree {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct CmsFree {
    void operator()(CMS_ContentInfo* cms) const { CMS_ContentInfo_free(cms); }
};
struct CertStackFree {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_free(stack); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr PinnedCertificate() {
    if (embedded::kSigningCertificateCount == 0) {
        return nullptr;
    }
    const embedded::Entry& entry = embedded::kSigningCertificate[0];
    BioPtr bio(BIO_new_mem_buf(entry.data, static_cast<int>(entry.size)));
    return X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

// A read BIO over an open descriptor from its start; the descriptor stays open.
BioPtr FileBioFromStart(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0 ||
        ::lseek(fd, 0, SEEK_SET) != 0) {
        return nullptr;
    }
    return BioPtr(BIO_new_fd(fd, BIO_NOCLOSE));
}

bool Verify(int contentFd, int signatureFd) {
    const X509Ptr pinned = PinnedCertificate();
    BioPtr content = FileBioFromStart(contentFd);
    BioPtr signature = FileBioFromStart(signatureFd);
    if (!pinned || !content || !signature) {
        return false;
    }
    std::unique_ptr<CMS_ContentInfo, CmsFree> cms(d2i_CMS_bio(signature.get(), nullptr));
    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    std::unique_ptr<STACK_OF(X509), CertStackFree> certs(sk_X509_new_null());
    if (!cms || !store || !certs || X509_STORE_add_cert(store.get(), pinned.get()) != 1 ||
        sk_X509_push(certs.get(), pinned.get()) <= 0) {
        return false;
    }
    // The pinned certificate is the only anchor: it need not be self-signed, nothing above it is
    // consulted, and its intended use (code signing rather than mail) does not matter.
    X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
    X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
    if (CMS_verify(cms.get(), certs.get(), store.get(), content.get(), nullptr, CMS_BINARY) != 1) {
        return false;
    }
    // Every signer must be the pinned certificate itself, not one it (or anything) vouches for.
    std::unique_ptr<STACK_OF(X509), CertStackFree> signers(CMS_get0_signers(cms.get()));
    if (!signers || sk_X509_num(signers.get()) < 1) {
        return false;
    }
    for (int i = 0; i < sk_X509_num(signers.get()); ++i) {
        if (X509_cmp(sk_X509_value(signers.get(), i), pinned.get()) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::int64_t VerifyOpenFileSignature(int contentFd, int signatureFd) {
    const bool verified = Verify(contentFd, signatureFd);
    ERR_clear_error();
    return verified ? 1 : 0;
}

std::int64_t VerifyFileSignature(const std::string& path, std::string* reason) {
    const UniqueFd content(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const std::string signaturePath = path + kSignatureSuffix;
    const UniqueFd signature(::open(signaturePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    std::string why;
    std::int64_t result = 0;
    if (!content.Valid()) {
        why = path + " cannot be read";
    } else if (!signature.Valid()) {
        why = "there is no signature " + signaturePath;
    } else {
        result = VerifyOpenFileSignature(content.Get(), signature.Get());
        if (result == 0) {
            why = "the signature " + signaturePath +
                  " does not verify against the maker's certificate";
        }
    }
    if (reason != nullptr) {
        *reason = why;
    }
    return result;
}

}  // namespace quarnel
