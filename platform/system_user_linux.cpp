#include "platform/system_user_linux.h"

#include <pwd.h>

#include <cstdio>
#include <initializer_list>
#include <string_view>

namespace quarnel {

// System users live in /etc/passwd, which is read directly first: going through the name
// service would load its modules (systemd's user database, about 0.7 ms) at every start of the
// helper.
bool FindSystemUser(uid_t& uid, gid_t& gid) {
    bool found = false;
    if (FILE* file = std::fopen("/etc/passwd", "re"); file != nullptr) {
        passwd entry{};
        passwd* read = nullptr;
        char buffer[1024];
        while (::fgetpwent_r(file, &entry, buffer, sizeof buffer, &read) == 0 && read != nullptr) {
            const std::string_view name = entry.pw_name;
            // The package's user wins; nobody only holds the place until it is seen.
            if (entry.pw_uid != 0 && (name == "quarnel-updater" || (name == "nobody" && !found))) {
                uid = entry.pw_uid;
                gid = entry.pw_gid;
                found = true;
                if (name == "quarnel-updater") {
                    break;
                }
            }
        }
        std::fclose(file);
    }
    if (found) {
        return true;
    }
    for (const char* name : {"quarnel-updater", "nobody"}) {
        if (const passwd* account = ::getpwnam(name); account != nullptr && account->pw_uid != 0) {
            uid = account->pw_uid;
            gid = account->pw_gid;
            return true;
        }
    }
    return false;
}

}  // namespace quarnel
