#include <windows.h>

#include <string>
#include <string_view>

#include "platform/process.h"
#include "platform/shared_module.h"
#include "platform/wide_text_win.h"

namespace quarnel {

std::string SharedModuleFileName(std::string_view name) {
    return std::string(name) + ".dll";
}

const char* PathSeparators() {
    return "\\/";
}

bool IsAbsolutePath(std::string_view path) {
    return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           path.starts_with("\\\\");
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Its dependencies are looked for beside it and in the system folder, never in the current one.
void* LoadSharedModule(const std::string& path, std::string& error) {
    const HMODULE module =
        ::LoadLibraryExW(Widen(path).c_str(), nullptr,
                         LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        error = path + ": " + SystemErrorText(::GetLastError());
    }
    return reinterpret_cast<void*>(module);
}

void* FindModuleSymbol(void* module, const char* symbol) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), symbol));
}

// A service runs on a window station of its own that shows nothing.
bool IsDisplayNamed() {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = ::GetProcessWindowStation();
    return station != nullptr &&
           ::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

const char* DisplayRequirement() {
    return "an interactive desktop";
}

}  // namespace quarnel
