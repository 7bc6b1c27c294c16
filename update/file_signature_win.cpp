// The signature check on Windows: the file's embedded Authenticode signature must pass
// WinVerifyTrust, and its signer must be the maker's pinned certificate (the pin is the check
// that counts: a system may trust many signers, the program only one).

#include <windows.h>
// In this order: the trust and message headers need windows.h.
#include <io.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wide_text_win.h"
#include "update/file_signature.h"
#include "update/pinned_signer.h"

namespace quarnel {
namespace {

bool PassesWinVerifyTrust(HANDLE file, const std::wstring& path) {
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return status == ERROR_SUCCESS;
}

// The DER bytes of the certificate that made the file's embedded signature; empty when it has
// none.
std::vector<std::uint8_t> SignerCertificate(const std::wstring& path) {
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                            CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                            CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store,
                            &message, nullptr)) {
        return {};
    }
    std::vector<std::uint8_t> der;
    DWORD size = 0;
    if (::CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size > 0) {
        std::vector<std::uint8_t> info(size);
        if (::CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
            const auto* signer = reinterpret_cast<const CERT_INFO*>(info.data());
            const PCCERT_CONTEXT certificate =
                ::CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                             CERT_FIND_SUBJECT_CERT, signer, nullptr);
            if (certificate != nullptr) {
                der.assign(certificate->pbCertEncoded,
                           certificate->pbCertEncoded + certificate->cbCertEncoded);
                ::CertFreeCertificateContext(certificate);
            }
        }
    }
    ::CryptMsgClose(message);
    ::CertCloseStore(store, 0);
    return der;
}

std::int64_t VerifyPath(HANDLE file, const std::wstring& path) {
    const std::string_view pinned = PinnedCertificate();
    if (pinned.empty() || !PassesWinVerifyTrust(file, path)) {
        return 0;
    }
    return IsPinnedSigner(pinned, SignerCertificate(path)) ? 1 : 0;
}

}  // namespace

// The signature is embedded in the file itself: signatureFd plays no part on Windows.
std::int64_t VerifyOpenFileSignature(int contentFd, int /*signatureFd*/) {
    const auto file = reinterpret_cast<HANDLE>(::_get_osfhandle(contentFd));
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    wchar_t path[MAX_PATH * 2];
    const DWORD length =
        ::GetFinalPathNameByHandleW(file, path, MAX_PATH * 2, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= MAX_PATH * 2) {
        return 0;
    }
    return VerifyPath(file, path);
}

std::int64_t VerifyFileSignature(const std::string& path, std::string* reason) {
    const std::wstring widePath = Widen(path);
    // Held open without sharing writes, so that the file checked is the file that stays.
    const HANDLE file = ::CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string why;
    std::int64_t result = 0;
    if (file == INVALID_HANDLE_VALUE) {
        why = path + " cannot be read";
    } else {
        result = VerifyPath(file, widePath);
        ::CloseHandle(file);
        if (result == 0) {
            why = "the signature of " + path + " does not verify against the maker's certificate";
        }
    }
    if (reason != nullptr) {
        *reason = why;
    }
    return result;
}

}  // namespace quarnel
