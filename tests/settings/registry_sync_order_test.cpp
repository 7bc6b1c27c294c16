// The order of one store write as the kernel sees it: the new file's data flushed, then the
// rename over the value, then the folder flushed. Killing a writer cannot show a missing flush
// (the page cache survives a killed process), so the test watches the system calls of one write
// in a second run of this test program under strace.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "platform/text.h"
#include "settings/registry.h"
#include "tests/settings/store_fixture.h"
#include "tests/support/child_process.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kKey = "SOFTWARE\\Quarnel Updater\\Service";
// Set for the traced run: the store root the parent prepared.
constexpr const char* kTracedRoot = "QUARNEL_TRACED_WRITE_ROOT";

std::string FindStrace() {
    const char* path = std::getenv("PATH");
    for (const std::string& folder : std::vector<std::string>{path ? path : "", "/usr/bin"}) {
        std::size_t start = 0;
        while (start <= folder.size()) {
            const std::size_t end = std::min(folder.find(':', start), folder.size());
            const std::string candidate = folder.substr(start, end - start) + "/strace";
            if (end > start && ::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
            start = end + 1;
        }
    }
    return {};
}

class RegistrySyncOrderTest : public test::StoreTest {};

TEST_F(RegistrySyncOrderTest, DataIsFlushedBeforeTheRenameAndTheFolderAfterIt) {
    if (const char* root = std::getenv(kTracedRoot)) {
        // The traced run: exactly one write into the key the parent created.
        test::ScopedEnvironment store("QUARNEL_ROOT", std::string(root));
        ASSERT_EQ(WriteRegistryString(kMachine, kKey, "Hostname", "host.example"), 1);
        return;
    }
    const std::string strace = FindStrace();
    if (strace.empty()) {
        GTEST_SKIP() << "strace is not installed (scripts/install-deps installs it)";
    }
    {
        // Containers may forbid tracing; that is a missing tool here, not a failure.
        test::ChildProcess probe;
        if (!probe.Start(strace, {"-qq", "-e", "trace=none", "-o", "/dev/null", "/bin/true"}) ||
            probe.Wait() != 0) {
            GTEST_SKIP() << "strace cannot trace here: " << probe.Output();
        }
    }
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    const std::string trace = Root() + "/trace";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // The leak checker of a sanitizer build cannot work under a tracer; the traced run only
    // writes one value.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const std::string untracedLeaks = std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0";
    test::ChildProcess child;
    ASSERT_TRUE(
        child.Start(strace,
                    {"-f", "-qq", "-y", "-e", "signal=none", "-e",
                     "trace=fsync,fdatasync,rename,renameat,renameat2,linkat", "-o", trace, self,
                     std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name()},
                    {{kTracedRoot, Root()}, {"ASAN_OPTIONS", untracedLeaks}}));
    ASSERT_EQ(child.Wait(60000), 0) << child.Output();

    // One line per call: "<pid> fsync(3</path>) = 0" or "<pid> rename("/from", "/to") = 0"
    // (renameat and renameat2 name the directory descriptors first). A file made without a name
    // (O_TMPFILE) is flushed as "3</folder/#inode (deleted)>" and gets its name from linkat of
    // "/proc/self/fd/3": its flush then counts as the flush of that name.
    const std::regex flush(R"re(^\d+ +f(data)?sync\((\d+)<([^>]*)>(\(deleted\))?\) += 0$)re");
    const std::regex link(R"re(^\d+ +linkat\(\w+(<[^>]*>)?, "/proc/self/fd/(\d+)", )re"
                          R"re(\w+(<[^>]*>)?, "([^"]*)", AT_SYMLINK_FOLLOW\) += 0$)re");
    const std::regex rename(
        R"re(^\d+ +rename(at2?)?\((\w+(<[^>]*>)?, )?"([^"]*)", (\w+(<[^>]*>)?, )?"([^"]*)".*\) += 0$)re");
    std::vector<std::string> calls;
    std::string renamedFrom;
    for (const std::string& line : SplitText(test::ReadFileText(trace), '\n')) {
        std::smatch match;
        if (std::regex_match(line, match, flush)) {
            calls.push_back(match[4].matched ? "flush unnamed " + match[2].str()
                                             : "flush " + match[3].str());
        } else if (std::regex_search(line, match, link)) {
            std::replace(calls.begin(), calls.end(), "flush unnamed " + match[2].str(),
                         "flush " + match[4].str());
        } else if (std::regex_match(line, match, rename)) {
            calls.push_back("rename to " + match[7].str());
            renamedFrom = match[4].str();
        } else if (!line.empty()) {
            calls.push_back("other: " + line);
        }
    }
    const std::string folder = MachineFolder(kKey);
    ASSERT_EQ(renamedFrom.rfind(folder + "/.tmp.", 0), 0u) << renamedFrom;
    EXPECT_EQ(calls, (std::vector<std::string>{"flush " + renamedFrom,
                                               "rename to " + folder + "/Hostname.value",
                                               "flush " + folder}));
}

}  // namespace
}  // namespace quarnel
