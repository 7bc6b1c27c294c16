#include <windows.h>
// The headers above first: the ones below need its types.
#include <lm.h>
#include <sddl.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/accounts.h"
#include "platform/wide_text_win.h"

namespace quarnel {

std::string GetCurrentUserName() {
    wchar_t name[UNLEN + 1];
    DWORD length = UNLEN + 1;
    if (!::GetUserNameW(name, &length) || length == 0) {
        return {};
    }
    return Narrow(std::wstring_view(name, length - 1));
}

// An elevated process runs as the user who started it on Windows, so the installing user is the
// current one. An account that the account database does not know (a domain account seen
// offline) is still named.
std::string GetInstallingUserName() {
    const std::string name = GetCurrentUserName();
    if (name.empty()) {
        return name;
    }
    USER_INFO_0* info = nullptr;
    if (::NetUserGetInfo(nullptr, Widen(name).c_str(), 0, reinterpret_cast<BYTE**>(&info)) ==
            NERR_Success &&
        info != nullptr) {
        const std::string known = Narrow(info->usri0_name);
        ::NetApiBufferFree(info);
        return known;
    }
    return name;
}

std::string GetAccountSidString(std::string_view accountName) {
    if (accountName.empty()) {
        return {};
    }
    const std::wstring name = Widen(accountName);
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use{};
    ::LookupAccountNameW(nullptr, name.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
    if (sidSize == 0) {
        return {};
    }
    std::vector<BYTE> sid(sidSize);
    std::wstring domain(domainSize, L'\0');
    if (!::LookupAccountNameW(nullptr, name.c_str(), sid.data(), &sidSize, domain.data(),
                              &domainSize, &use)) {
        return {};
    }
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid.data(), &text) || text == nullptr) {
        return {};
    }
    const std::string result = Narrow(text);
    ::LocalFree(text);
    return result;
}

std::string GetHardwareProfileId() {
    HW_PROFILE_INFOW profile{};
    if (!::GetCurrentHwProfileW(&profile)) {
        return {};
    }
    return Narrow(profile.szHwProfileGuid);
}

}  // namespace quarnel
