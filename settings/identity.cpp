#include "settings/identity.h"

#include <algorithm>

#include "settings/registry.h"
#include "settings/schema.h"

namespace quarnel {

int RecordClientIdentity() {
    const std::string sid = GetAccountSidString(GetInstallingUserName());
    // A user's identifier has at least four hyphens; shorter ones are well-known accounts.
    if (std::count(sid.begin(), sid.end(), '-') < 4) {
        return 0;
    }
    const std::string key = ClientIdentityKey();
    if (CreateRegistryKey(RegistryHive::ClassesRoot, key) == 0) {
        return 0;
    }
    return WriteRegistryString(RegistryHive::ClassesRoot, key, kValueSecurityIdentifier, sid);
}

std::string GetClientIdentity() {
    const std::string key = ClientIdentityKey();
    if (RegistryKeyExists(RegistryHive::ClassesRoot, key) == 0) {
        return {};
    }
    return ReadRegistryString(RegistryHive::ClassesRoot, key, kValueSecurityIdentifier);
}

}  // namespace quarnel
