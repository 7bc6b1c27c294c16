#pragma once

// Stand-ins for the helper executable that never give a usable answer, for the tests of the
// program's callers: a failure of the helper must be a failure of their operation, never a
// success.

#include <sys/stat.h>

#include <fstream>
#include <string>

namespace quarnel::test {

struct UnusableHelper {
    const char* name;
    const char* script;  // empty: no file at all
};

inline constexpr UnusableHelper kUnusableHelpers[] = {
    {"missing", ""},
    {"crashes", "cat >/dev/null; kill -SEGV $$"},
    // A well-formed answer that is too short for any operation's result.
    {"answers five bytes", "cat >/dev/null; printf 'a\\005\\000\\000\\000hello'"},
};

// The stand-in's path in folder (written there unless it is the missing one).
inline std::string MakeUnusableHelper(const std::string& folder, const UnusableHelper& helper) {
    const std::string path = folder + "/" + helper.name;
    if (*helper.script != '\0') {
        std::ofstream(path) << "#!/bin/sh\n" << helper.script << "\n";
        ::chmod(path.c_str(), 0700);
    }
    return path;
}

}  // namespace quarnel::test
