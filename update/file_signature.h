#pragma once

#include <cstdint>
#include <string>

namespace quarnel {

// The signature of a file is a detached CMS (PKCS #7) signature in DER form beside it, named as
// the file with ".p7s" added.
inline constexpr const char* kSignatureSuffix = ".p7s";

// 1 when the signature over the contents of the open file contentFd, given by the open file
// signatureFd, was made by the maker's certificate pinned in the program; else 0. No other
// signer counts, whatever vouches for it. Both files are read from their start; checking the
// descriptor that is used afterwards means a file swapped under the same name later cannot
// slip in. An empty file never verifies.
std::int64_t VerifyOpenFileSignature(int contentFd, int signatureFd);

// VerifyOpenFileSignature of the file at path and of path + ".p7s"; 0 when either cannot be
// opened. When reason is given, it receives a short text for the user on failure.
std::int64_t VerifyFileSignature(const std::string& path, std::string* reason = nullptr);

}  // namespace quarnel
