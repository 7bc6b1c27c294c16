// A value is always whole: a writer killed at any moment leaves the old or the new value, and
// processes that write and read the same key at once never see a torn one.

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "settings/registry.h"
#include "tests/settings/store_fixture.h"
#include "tests/support/child_process.h"

namespace quarnel {
namespace {

constexpr RegistryHive kMachine = RegistryHive::LocalMachine;
constexpr const char* kKey = "SOFTWARE\\Quarnel Updater\\Service";

// Two versions of each value, of different lengths, so a torn file cannot pass for either.
struct Versions {
    std::string name;
    std::string first;
    std::string second;
};

std::vector<Versions> TestValues() {
    return {
        {"Result", "good 198.51.100.7", std::string(3000, 'x') + " nochg"},
        {"IP", std::string(700, '1'), "203.0.113.9"},
        {"Hostname", "a.example", std::string(9000, 'h') + ".example"},
    };
}

bool IsOneOf(const std::string& text, const Versions& versions) {
    return text == versions.first || text == versions.second;
}

void SleepMicroseconds(long microseconds) {
    const struct timespec delay = {microseconds / 1000000, (microseconds % 1000000) * 1000};
    ::nanosleep(&delay, nullptr);
}

class RegistryDurabilityTest : public test::StoreTest {};

TEST_F(RegistryDurabilityTest, AWriterKilledAtRandomMomentsLeavesOnlyWholeValues) {
    const auto values = TestValues();
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    for (const Versions& value : values) {
        ASSERT_EQ(WriteRegistryString(kMachine, kKey, value.name, value.first), 1);
    }
    std::random_device device;
    const unsigned seed = device();
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> delay(500, 20000);
    SCOPED_TRACE("seed " + std::to_string(seed));

    int changed = 0;
    for (int kill = 0; kill < 30; ++kill) {
        // The writer reports each finished round through a pipe; every fifth kill waits for the
        // first report, so a heavily loaded machine still sees some writes complete.
        int rounds[2];
        ASSERT_EQ(::pipe(rounds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::alarm(30);
            ::close(rounds[0]);
            for (unsigned round = 0;; ++round) {
                for (const Versions& value : values) {
                    WriteRegistryString(kMachine, kKey, value.name,
                                        round % 2 ? value.first : value.second);
                }
                const char done = 1;
                (void)!::write(rounds[1], &done, 1);
            }
        }
        ::close(rounds[1]);
        if (kill % 5 == 4) {
            pollfd reader{rounds[0], POLLIN, 0};
            ::poll(&reader, 1, 20000);
        }
        SleepMicroseconds(delay(random));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ::close(rounds[0]);
        ASSERT_TRUE(WIFSIGNALED(status));
        for (const Versions& value : values) {
            const std::string text = ReadRegistryString(kMachine, kKey, value.name);
            EXPECT_TRUE(IsOneOf(text, value)) << value.name << " after kill " << kill;
            changed += text == value.second ? 1 : 0;
        }
    }
    EXPECT_GT(changed, 0) << "the writer never got to write";
    // Only the values and the temporary files of interrupted writes are there.
    for (const std::string& name : test::ListFolder(MachineFolder(kKey))) {
        EXPECT_TRUE(name.rfind(".tmp.", 0) == 0 || name == "Result.value" || name == "IP.value" ||
                    name == "Hostname.value")
            << name;
    }
}

// The temporary file names that writes into folder use, as they are made.
class TemporaryNames {
  public:
    explicit TemporaryNames(const std::string& folder)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        ::inotify_add_watch(fd_.Get(), folder.c_str(), IN_CREATE | IN_MOVED_FROM);
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[8192];
        ssize_t got = 0;
        while ((got = ::read(fd_.Get(), buffer, sizeof buffer)) > 0) {
            for (ssize_t offset = 0; offset < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                if (event->len > 0 && std::string(event->name).rfind(".tmp.", 0) == 0) {
                    names.push_back(event->name);
                }
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }

  private:
    UniqueFd fd_;
};

// A writer killed before its rename leaves its temporary file; a later process may get the same
// process id. Whatever names the store chose, a leftover under them must not stop a later write.
TEST_F(RegistryDurabilityTest, LeftoversUnderTheNamesWritersUseNeverStopALaterWrite) {
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    const std::string folder = MachineFolder(kKey);
    // In a child, so that the process (and its id) stays the same from one write to the next,
    // as it would be for a later process with a reused id.
    EXPECT_EQ(
        test::RunInForkedChild([&folder] {
            const TemporaryNames watch(folder);
            if (WriteRegistryString(kMachine, kKey, "Hostname", "first.example") != 1) {
                return 1;
            }
            const std::vector<std::string> used = watch.Names();
            if (used.empty()) {
                return 2;
            }
            // The name used, and the next ones if the name counts up.
            std::vector<std::string> leftovers = used;
            const std::string& name = used.front();
            const std::size_t dot = name.rfind('.');
            const std::string stem = name.substr(0, dot + 1);
            const std::string count = name.substr(dot + 1);
            if (!count.empty() && count.find_first_not_of("0123456789") == std::string::npos) {
                for (unsigned next = 1; next <= 64; ++next) {
                    leftovers.push_back(stem + std::to_string(std::stoul(count) + next));
                }
            }
            for (const std::string& leftover : leftovers) {
                std::ofstream(folder + "/" + leftover) << "REGVALUE 1 2\n";
            }
            return WriteRegistryString(kMachine, kKey, "Hostname", "second.example") == 1 &&
                           ReadRegistryString(kMachine, kKey, "Hostname") == "second.example"
                       ? 0
                       : 3;
        }),
        0);
}

TEST_F(RegistryDurabilityTest, TwoProcessesWritingAndReadingOneKeySeeWholeValues) {
    const auto values = TestValues();
    ASSERT_EQ(CreateRegistryKey(kMachine, kKey), 1);
    for (const Versions& value : values) {
        ASSERT_EQ(WriteRegistryString(kMachine, kKey, value.name, value.first), 1);
    }
    // Each process writes the shared value and one of its own, and reads all of them.
    auto worker = [&values](std::size_t own) {
        return [&values, own] {
            int torn = 0;
            for (unsigned round = 0; round < 150; ++round) {
                const bool ok =
                    WriteRegistryString(kMachine, kKey, values[0].name,
                                        round % 2 ? values[0].first : values[0].second) == 1 &&
                    WriteRegistryString(kMachine, kKey, values[own].name,
                                        round % 3 ? values[own].first : values[own].second) == 1;
                torn += ok ? 0 : 1;
                for (const Versions& value : values) {
                    torn += IsOneOf(ReadRegistryString(kMachine, kKey, value.name), value) ? 0 : 1;
                }
            }
            return torn > 0 ? 1 : 0;
        };
    };
    const pid_t first = test::StartChild(worker(1));
    const pid_t second = test::StartChild(worker(2));
    EXPECT_EQ(test::WaitForChild(first), 0);
    EXPECT_EQ(test::WaitForChild(second), 0);
    for (const Versions& value : values) {
        EXPECT_TRUE(IsOneOf(ReadRegistryString(kMachine, kKey, value.name), value));
    }
}

}  // namespace
}  // namespace quarnel
