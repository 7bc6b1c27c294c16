#include <unistd.h>

#include <string>
#include <vector>

#include "platform/elevated_start.h"

namespace quarnel {
namespace {

// Where pkexec is looked for; a PATH entry a user controls is never used for elevation.
constexpr const char* kTrustedFolders = "/usr/bin:/bin:/usr/sbin:/sbin";

}  // namespace

ElevatedStart StartElevatedProgram(const std::string& file,
                                   const std::vector<std::string>& parameters,
                                   const std::string& directory) {
    ElevatedStart start;
    std::vector<std::string> command;
    if (::geteuid() != 0) {
        const std::string pkexec = FindExecutable("pkexec", kTrustedFolders);
        if (pkexec.empty()) {
            start.problem = "pkexec is not installed; cannot start " + file;
            return start;
        }
        command.push_back(pkexec);
    }
    command.push_back(file);
    command.insert(command.end(), parameters.begin(), parameters.end());
    start.program = StartProgramWithHandle(command, directory);
    if (!start.program.handle) {
        start.failedProgram = command[0];
    }
    return start;
}

bool CanStartElevatedProgram() {
    return ::geteuid() == 0 || !FindExecutable("pkexec", kTrustedFolders).empty();
}

std::string CurrentDirectory() {
    std::string path(4096, '\0');
    if (::getcwd(path.data(), path.size()) == nullptr) {
        return "/";
    }
    path.resize(path.find('\0'));
    return path;
}

}  // namespace quarnel
