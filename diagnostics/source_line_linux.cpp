#include <dlfcn.h>
#include <elfutils/libdwfl.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "diagnostics/source_line.h"

namespace quarnel {
namespace {

// The library is opened by name at run time and never linked: linking it would map it (and the
// compression libraries it needs) into every process of the program, the idle service too.
constexpr const char* kLibraryName = "libdw.so.1";

// The few entry points used, looked up by name.
struct Libdw {
    decltype(&dwfl_begin) begin = nullptr;
    decltype(&dwfl_end) end = nullptr;
    decltype(&dwfl_report_begin) reportBegin = nullptr;
    decltype(&dwfl_linux_proc_report) procReport = nullptr;
    decltype(&dwfl_report_end) reportEnd = nullptr;
    decltype(&dwfl_getsrc) getsrc = nullptr;
    decltype(&dwfl_lineinfo) lineinfo = nullptr;
    decltype(&dwfl_linux_proc_find_elf) procFindElf = nullptr;
    decltype(&dwfl_standard_find_debuginfo) findDebuginfo = nullptr;
};

template <typename Function>
bool Bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

// The library's entry points, or nothing when it is not installed. It stays loaded: the caller
// is a short-lived reporter process.
const Libdw* LoadLibdw() {
    static const std::optional<Libdw> loaded = []() -> std::optional<Libdw> {
        void* library = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return std::nullopt;
        }
        Libdw dw;
        const bool bound = Bind(library, "dwfl_begin", dw.begin) &&
                           Bind(library, "dwfl_end", dw.end) &&
                           Bind(library, "dwfl_report_begin", dw.reportBegin) &&
                           Bind(library, "dwfl_linux_proc_report", dw.procReport) &&
                           Bind(library, "dwfl_report_end", dw.reportEnd) &&
                           Bind(library, "dwfl_getsrc", dw.getsrc) &&
                           Bind(library, "dwfl_lineinfo", dw.lineinfo) &&
                           Bind(library, "dwfl_linux_proc_find_elf", dw.procFindElf) &&
                           Bind(library, "dwfl_standard_find_debuginfo", dw.findDebuginfo);
        if (!bound) {
            return std::nullopt;
        }
        return dw;
    }();
    return loaded ? &*loaded : nullptr;
}

// Ends a session with the library.
class Session {
  public:
    Session(const Libdw& dw, const Dwfl_Callbacks* callbacks)
        : dw_(dw), dwfl_(dw.begin(callbacks)) {}
    ~Session() {
        if (dwfl_ != nullptr) {
            dw_.end(dwfl_);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    Dwfl* Get() const { return dwfl_; }

  private:
    const Libdw& dw_;
    Dwfl* dwfl_;
};

std::string BaseName(const char* path) {
    const std::string text(path);
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

}  // namespace

std::optional<SourceLine> FindSourceLine(std::uint32_t process, std::uint64_t address) {
    const Libdw* dw = LoadLibdw();
    if (dw == nullptr || address == 0) {
        return std::nullopt;
    }
    // Debug files are looked for on this machine only: a configured debuginfod server would
    // otherwise be asked over the network while the crashed process waits.
    ::unsetenv("DEBUGINFOD_URLS");
    const Dwfl_Callbacks callbacks{dw->procFindElf, dw->findDebuginfo, nullptr, nullptr};
    const Session session(*dw, &callbacks);
    if (session.Get() == nullptr) {
        return std::nullopt;
    }
    dw->reportBegin(session.Get());
    const int reported = dw->procReport(session.Get(), static_cast<pid_t>(process));
    if (dw->reportEnd(session.Get(), nullptr, nullptr) != 0 || reported != 0) {
        return std::nullopt;
    }
    Dwfl_Line* line = dw->getsrc(session.Get(), address);
    if (line == nullptr) {
        return std::nullopt;
    }
    int number = 0;
    const char* file = dw->lineinfo(line, nullptr, &number, nullptr, nullptr, nullptr);
    if (file == nullptr || number <= 0) {
        return std::nullopt;
    }
    return SourceLine{static_cast<std::uint32_t>(number), BaseName(file)};
}

}  // namespace quarnel
