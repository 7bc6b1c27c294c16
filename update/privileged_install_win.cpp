// The software update's install step on Windows starts the maker's installer with its "/silent"
// contract; that installer and its check come with the Windows desktop. Until then the step
// installs nothing and says so.

#include <cstdio>
#include <string>

#include "diagnostics/log.h"
#include "update/privileged_install.h"

namespace quarnel {

int RunPrivilegedInstall(const std::string& path, const std::string& /*version*/) {
    const std::string text = "the software update cannot install " + path +
                             " yet: the Windows installer step is not part of this build";
    QLOG(kLogError, "RunPrivilegedInstall", text);
    std::fprintf(stderr, "quarnel-updater: %s\n", text.c_str());
    return 0;
}

}  // namespace quarnel
