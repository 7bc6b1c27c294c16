#pragma once

// Small helpers shared by the tests: a temporary folder that is removed afterwards, an
// environment variable set for one scope, and running the program as a child process.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quarnel::test {

class TemporaryFolder {
  public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

class ScopedEnvironment {
  public:
    ScopedEnvironment(std::string name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

struct ProgramResult {
    int exitCode = -1;   // -1 when the program did not exit normally
    std::string output;  // standard output and standard error together
};

// The program under test: the QUARNEL_PROGRAM environment variable (set by ctest), or the one
// this build made, so that a test binary run by hand finds it too.
std::string ProgramPath();
// The helper executable the program runs its transfers in: QUARNEL_HELPER (set by ctest), or the
// one this build made. Where the program is copied or bound elsewhere, the helper goes beside it.
std::string HelperProgramPath();

// Runs the program with arguments and extra environment entries; kills it after timeoutSeconds.
ProgramResult RunProgram(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment,
                         int timeoutSeconds = 30);

// Files in a folder (names only), sorted; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& path);
std::string ReadFileText(const std::string& path);

// Polls condition every 20 ms until it holds or timeoutMs passed (then asks a last time).
bool Eventually(const std::function<bool()>& condition, int timeoutMs = 20000);

}  // namespace quarnel::test
