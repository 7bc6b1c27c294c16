#include "helper/crypto_operations.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <memory>

#include "platform/crypto_request.h"

namespace quarnel {
namespace {

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
struct CipherFree {
    void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};
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

const unsigned char* Bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// AES-256 in CBC mode with ciphertext stealing, CS2 arrangement: whole blocks are plain CBC; a
// final partial block is handled by storing the last whole cipher block first and the stolen
// partial block after it.
std::optional<std::string> CipherCs2(std::string_view request, bool encrypt) {
    const auto fields = SplitRequestFields(request, kCipherRequestFields);
    if (!fields || (*fields)[0].size() != kCipherKeyLength ||
        (*fields)[1].size() != kCipherIvLength || (*fields)[2].size() < kCipherBlockLength) {
        return std::nullopt;
    }
    const std::string_view key = (*fields)[0];
    const std::string_view iv = (*fields)[1];
    const std::string_view input = (*fields)[2];
    std::unique_ptr<EVP_CIPHER, CipherFree> cipher(
        EVP_CIPHER_fetch(nullptr, "AES-256-CBC-CTS", nullptr));
    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!cipher || !context) {
        return std::nullopt;
    }
    char mode[] = "CS2";
    const OSSL_PARAM parameters[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_CIPHER_PARAM_CTS_MODE, mode, 0),
        OSSL_PARAM_construct_end(),
    };
    std::string output(input.size() + kCipherBlockLength, '\0');
    auto* out = reinterpret_cast<unsigned char*>(output.data());
    int written = 0;
    int finalWritten = 0;
    // The stealing needs the whole input in one update.
    if (EVP_CipherInit_ex2(context.get(), cipher.get(), Bytes(key), Bytes(iv), encrypt ? 1 : 0,
                           parameters) != 1 ||
        EVP_CipherUpdate(context.get(), out, &written, Bytes(input),
                         static_cast<int>(input.size())) != 1 ||
        EVP_CipherFinal_ex(context.get(), out + written, &finalWritten) != 1 ||
        static_cast<std::size_t>(written + finalWritten) != input.size()) {
        OPENSSL_cleanse(output.data(), output.size());
        return std::nullopt;
    }
    // Shrinking keeps the buffer, so no copy of the result is left behind.
    output.resize(input.size());
    return output;
}

std::optional<std::string> Digest(std::string_view data, const EVP_MD* type) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (type == nullptr ||
        EVP_Digest(data.data(), data.size(), digest, &length, type, nullptr) != 1) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(digest), length);
}

// A read BIO over an open descriptor from its start; the descriptor stays open.
BioPtr FileBioFromStart(int fd) {
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0 ||
        ::lseek(fd, 0, SEEK_SET) != 0) {
        return nullptr;
    }
    return BioPtr(BIO_new_fd(fd, BIO_NOCLOSE));
}

bool Verify(X509* pinned, int contentFd, int signatureFd) {
    BioPtr content = FileBioFromStart(contentFd);
    BioPtr signature = FileBioFromStart(signatureFd);
    if (!content || !signature) {
        return false;
    }
    std::unique_ptr<CMS_ContentInfo, CmsFree> cms(d2i_CMS_bio(signature.get(), nullptr));
    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    std::unique_ptr<STACK_OF(X509), CertStackFree> certs(sk_X509_new_null());
    if (!cms || !store || !certs || X509_STORE_add_cert(store.get(), pinned) != 1 ||
        sk_X509_push(certs.get(), pinned) <= 0) {
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
        if (X509_cmp(sk_X509_value(signers.get(), i), pinned) != 0) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> VerifySignature(std::string_view certificate,
                                           std::span<const int> descriptors) {
    if (descriptors.size() < 2 || certificate.empty()) {
        return std::nullopt;
    }
    BioPtr bio(BIO_new_mem_buf(certificate.data(), static_cast<int>(certificate.size())));
    const X509Ptr pinned(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!pinned) {
        return std::nullopt;
    }
    const bool verified = Verify(pinned.get(), descriptors[0], descriptors[1]);
    return std::string(1, verified ? kSignatureVerified : kSignatureNotVerified);
}

}  // namespace

std::optional<std::string> RunCryptoOperation(HelperOperation operation, std::string_view request,
                                              std::span<const int> descriptors) {
    std::optional<std::string> answer;
    switch (operation) {
        case HelperOperation::Encrypt:
        case HelperOperation::Decrypt:
            answer = CipherCs2(request, operation == HelperOperation::Encrypt);
            break;
        case HelperOperation::Md5:
            answer = Digest(request, EVP_md5());
            break;
        case HelperOperation::Sha1:
            answer = Digest(request, EVP_sha1());
            break;
        case HelperOperation::VerifySignature:
            answer = VerifySignature(request, descriptors);
            break;
        default:
            break;
    }
    ERR_clear_error();
    return answer;
}

}  // namespace quarnel
