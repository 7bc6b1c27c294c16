#include "tests/support/test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

#include "tests/support/child_process.h"

namespace quarnel::test {
namespace {

// The password cipher, the digests and the transfers run in the helper executable: a test binary
// run by hand (ctest names it) uses the one this build made.
[[maybe_unused]] const bool kHelperNamed = ::setenv("QUARNEL_HELPER", QUARNEL_BUILT_HELPER, 0) == 0;

}  // namespace

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarnel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        previous_ = old;
    }
    if (value) {
        ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_) {
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

std::string ProgramPath() {
    const char* path = std::getenv("QUARNEL_PROGRAM");
    return path ? path : QUARNEL_BUILT_PROGRAM;
}

std::string HelperProgramPath() {
    const char* path = std::getenv("QUARNEL_HELPER");
    return path ? path : QUARNEL_BUILT_HELPER;
}

ProgramResult RunProgram(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment,
                         int timeoutSeconds) {
    ProgramResult result;
    ChildProcess child;
    if (ProgramPath().empty() || !child.Start(ProgramPath(), arguments, environment)) {
        return result;
    }
    result.exitCode = child.Wait(timeoutSeconds * 1000);
    result.output = child.Output();
    return result;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Eventually(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

}  // namespace quarnel::test
