// The shared test helpers (tests/support/test_support.h) on Windows.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/child_process.h"
#include "platform/wide_text_win.h"
#include "tests/support/test_support.h"

namespace quarnel::test {
namespace {

// The C runtime's copy of the environment (getenv) and the system's (what children inherit,
// and _wgetenv) are both kept current.
void SetVariable(const std::string& name, const std::optional<std::string>& value) {
    const std::wstring wideName = Widen(name);
    const std::wstring wideValue = value ? Widen(*value) : std::wstring();
    ::_wputenv_s(wideName.c_str(), wideValue.c_str());
    ::SetEnvironmentVariableW(wideName.c_str(), value ? wideValue.c_str() : nullptr);
}

}  // namespace

TemporaryFolder::TemporaryFolder() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            base / ("quarnel-test-" + std::to_string(random()) + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            path_ = candidate.string();
            return;
        }
    }
    std::abort();
}

namespace {

// One pass, depth first, never retried: a file that another handle holds open (a log file the
// test left open) stays behind with its folders, where std::filesystem::remove_all would spin.
void RemoveTree(const std::filesystem::path& path) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        if (entry.is_directory(error)) {
            RemoveTree(entry.path());
        } else {
            ::DeleteFileW(entry.path().wstring().c_str());
        }
    }
    ::RemoveDirectoryW(path.wstring().c_str());
}

}  // namespace

TemporaryFolder::~TemporaryFolder() {
    RemoveTree(path_);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const wchar_t* old = ::_wgetenv(Widen(name_).c_str())) {
        previous_ = Narrow(old);
    }
    SetVariable(name_, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    SetVariable(name_, previous_);
}

std::string ProgramPath() {
    const char* path = std::getenv("QUARNEL_PROGRAM");
    return path ? path : QUARNEL_BUILT_PROGRAM;
}

// There is no helper on Windows.
std::string HelperProgramPath() {
    return {};
}

ProgramResult RunProgram(const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment,
                         int timeoutSeconds) {
    std::vector<std::unique_ptr<ScopedEnvironment>> variables;
    for (const auto& [name, value] : environment) {
        variables.push_back(std::make_unique<ScopedEnvironment>(name, value));
    }
    std::vector<std::string> command = {ProgramPath()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const CommandResult run = RunCommand(command, timeoutSeconds * 1000);
    ProgramResult result;
    result.exitCode = run.finished ? run.exitCode : -1;
    result.output = run.output;
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

// The override half of tests/fixtures/endpoint_overrides.cpp; its other half starts the provider
// emulator, which the Windows tests reach as scripts/test-windows runs it, natively.
#include "ddns/endpoint_value.h"
#include "tests/fixtures/endpoint_overrides.h"

namespace quarnel::test {

bool SetEndpointOverride(Endpoint endpoint, const std::string& value) {
    std::string error;
    return StoreEndpointOverride(endpoint, value, error);
}

}  // namespace quarnel::test
