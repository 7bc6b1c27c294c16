#pragma once

// Whether the process may change the system: install services, write the machine's settings.

#include <string>

namespace quarnel {

// Root on Linux; on Windows a member of the Administrators group with its elevated token.
bool HasSystemRights();
// The words a message uses to ask for those rights ("root rights (run it as root, for example
// with sudo)", "administrator rights (run it from an elevated prompt)").
const char* SystemRightsAdvice();
// Whether the process may create files in the folder.
bool CanWriteFolder(const std::string& folder);

}  // namespace quarnel
