// "/configure" input: Name=Value lines of settings and endpoints read from standard input (here
// a memory file) and single values, checked as the command checks them. Whatever is accepted keeps
// the rules of its setting; whatever is refused says why in one printable line.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/line_reader.h"
#include "platform/text.h"
#include "platform/unique_fd.h"
#include "startup/configure_input.h"

namespace quarnel {
namespace {

// Labels of 1 to 63 letters, digits and hyphens, no hyphen at either end, joined by dots; at
// most 253 characters.
bool IsHostName(std::string_view name) {
    if (name.empty() || name.size() > 253) {
        return false;
    }
    for (const std::string_view label : SplitText(name, '.')) {
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-' ||
            label.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                    "0123456789-") != std::string_view::npos) {
            return false;
        }
    }
    return true;
}

void CheckText(const std::optional<std::string>& text) {
    if (text) {
        FUZZ_CHECK(!text->empty() && text->size() <= 255);
        FUZZ_CHECK(!fuzz::HasControlCharacter(*text));
    }
}

void CheckList(const std::optional<std::vector<std::string>>& list, bool hostNames) {
    if (!list) {
        return;
    }
    FUZZ_CHECK(list->size() <= 64);  // empty: the list is cleared
    for (const std::string& entry : *list) {
        if (hostNames) {
            FUZZ_CHECK(IsHostName(entry));
        } else {
            FUZZ_CHECK(!entry.empty() && entry.size() <= 32);
            FUZZ_CHECK(!fuzz::HasControlCharacter(entry));
            FUZZ_CHECK(entry.front() != ' ' && entry.back() != ' ');
        }
    }
}

void CheckChanges(const SettingsChanges& changes) {
    CheckText(changes.userName);
    CheckText(changes.password);
    if (changes.hostName && !changes.hostName->empty()) {  // empty: the host name is cleared
        const auto names = SplitText(*changes.hostName, ',');
        FUZZ_CHECK(names.size() <= 64);
        for (const std::string_view name : names) {
            FUZZ_CHECK(IsHostName(name));
        }
    }
    if (changes.providerIndex) {
        FUZZ_CHECK(*changes.providerIndex >= 0 && *changes.providerIndex <= 5);
    }
    if (changes.intervalMinutes) {
        FUZZ_CHECK(*changes.intervalMinutes >= 1 && *changes.intervalMinutes <= 7 * 24 * 60);
    }
    CheckList(changes.localNetworks, true);
    CheckList(changes.wirelessNetworks, false);
    // Endpoint overrides (empty: removed) are host texts or address lists: no blank, no control
    // character, never longer than a host name with a port or three resolvers.
    std::vector<std::string> endpoints;
    for (const auto& [endpoint, value] : changes.endpoints) {
        endpoints.push_back(value);
    }
    if (changes.updateHost) {
        endpoints.push_back(*changes.updateHost);
    }
    for (const std::string& value : endpoints) {
        FUZZ_CHECK(value.size() <= 253 + 6);
        FUZZ_CHECK(!fuzz::HasControlCharacter(value));
        FUZZ_CHECK(value.find(' ') == std::string::npos);
    }
}

void CheckError(bool accepted, const std::string& error) {
    if (!accepted) {
        FUZZ_CHECK(!error.empty() && error.size() < 1024);
        FUZZ_CHECK(!fuzz::HasControlCharacter(error));
    }
}

// Reads the input line by line as the command does, the first bad line stopping it. The lines
// handed out are the input's lines: each ends at a line feed (a carriage return before it
// dropped), none is longer than the limit, and nothing is skipped or left over.
void CheckLines(std::string_view input) {
    UniqueFd file(::memfd_create("configure-input", MFD_CLOEXEC));
    FUZZ_CHECK(file.Valid());
    FUZZ_CHECK(::write(file.Get(), input.data(), input.size()) ==
               static_cast<ssize_t>(input.size()));
    FUZZ_CHECK(::lseek(file.Get(), 0, SEEK_SET) == 0);
    LineReader reader(file.Get(), kMaximumSettingLineLength);
    SettingsChanges changes;
    std::size_t at = 0;
    while (true) {
        std::string line;
        const LineStatus status = reader.ReadLine(line);
        if (status == LineStatus::End) {
            FUZZ_CHECK(at == input.size());
            break;
        }
        if (status == LineStatus::Truncated) {
            FUZZ_CHECK(at < input.size() && input.find('\n', at) == std::string_view::npos);
            FUZZ_CHECK(input.size() - at <= kMaximumSettingLineLength + 1);
            break;
        }
        if (status == LineStatus::TooLong) {
            const std::size_t feed = input.find('\n', at);
            const std::size_t length = (feed == std::string_view::npos ? input.size() : feed) - at;
            FUZZ_CHECK(length > kMaximumSettingLineLength);
            break;
        }
        FUZZ_CHECK(status == LineStatus::Line);
        if (status != LineStatus::Line) {
            break;
        }
        FUZZ_CHECK(line.size() <= kMaximumSettingLineLength);
        FUZZ_CHECK(input.substr(at, line.size()) == line);
        at += line.size();
        if (input.substr(at, 2) == "\r\n") {
            ++at;
        }
        FUZZ_CHECK(at < input.size() && input[at] == '\n');
        ++at;

        std::string error;
        const bool accepted = AcceptSettingLine(line, changes, error);
        CheckError(accepted, error);
        CheckChanges(changes);
        if (!accepted) {
            break;
        }
    }
}

}  // namespace
}  // namespace quarnel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quarnel;
    const std::string_view input = fuzz::AsText(data, size);
    CheckLines(input);

    // The whole input as the value of one setting, as a terminal prompt takes it.
    if (size > 0) {
        const std::vector<SettingFieldInfo>& fields = SettingFields();
        const SettingFieldInfo& field = fields[data[0] % fields.size()];
        SettingsChanges changes;
        std::string error;
        const bool accepted = AcceptSettingValue(field.field, input.substr(1), changes, error);
        CheckError(accepted, error);
        CheckChanges(changes);
        if (size == 1) {
            FUZZ_CHECK(accepted);  // an empty value keeps what is stored
        }
    }
    return 0;
}
