// trust-certificate <file.pem>: adds the certificate to the machine's trusted roots, so that the
// Windows program under Wine accepts the provider emulator's test certificates. Test use only:
// it writes into the test prefix's registry, never anything of the machine running Wine.

#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust-certificate <file.pem>\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    const std::string pem = text.str();
    DWORD size = 0;
    if (pem.empty() ||
        !::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "trust-certificate: %s holds no certificate\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(size);
    ::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                           der.data(), &size, nullptr, nullptr);
    const HCERTSTORE store =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    const bool added = store != nullptr && ::CertAddEncodedCertificateToStore(
                                               store, X509_ASN_ENCODING, der.data(), size,
                                               CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (store != nullptr) {
        ::CertCloseStore(store, 0);
    }
    if (!added) {
        std::fprintf(stderr, "trust-certificate: cannot add %s (error %lu)\n", argv[1],
                     ::GetLastError());
        return 1;
    }
    return 0;
}
