#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/shared_module.h"

namespace quarnel {
namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

std::string SharedModuleFileName(std::string_view name) {
    return std::string(name) + ".so";
}

const char* PathSeparators() {
    return "/";
}

bool IsAbsolutePath(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

bool FileExists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

void* LoadSharedModule(const std::string& path, std::string& error) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* reason = ::dlerror();
        error = reason != nullptr ? reason : path;
    }
    return module;
}

void* FindModuleSymbol(void* module, const char* symbol) {
    return ::dlsym(module, symbol);
}

bool IsDisplayNamed() {
    return IsSet("QT_QPA_PLATFORM") || IsSet("WAYLAND_DISPLAY") || IsSet("DISPLAY");
}

const char* DisplayRequirement() {
    return "DISPLAY or WAYLAND_DISPLAY";
}

}  // namespace quarnel
