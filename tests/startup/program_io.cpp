#include "tests/startup/program_io.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <thread>

#include "platform/file_io.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace quarnel::test {
namespace {

struct ChildImage {
    std::vector<std::string> argumentTexts;
    std::vector<std::string> environmentTexts;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

// Everything execve needs, built before fork.
ChildImage PrepareChild(const std::vector<std::string>& arguments,
                        const std::map<std::string, std::string>& environment) {
    ChildImage image;
    image.argumentTexts.push_back(ProgramPath());
    image.argumentTexts.insert(image.argumentTexts.end(), arguments.begin(), arguments.end());
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) {
            merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : environment) {
        merged[name] = value;
    }
    for (const auto& [name, value] : merged) {
        image.environmentTexts.push_back(name + "=" + value);
    }
    for (std::string& text : image.argumentTexts) {
        image.argv.push_back(text.data());
    }
    image.argv.push_back(nullptr);
    for (std::string& text : image.environmentTexts) {
        image.envp.push_back(text.data());
    }
    image.envp.push_back(nullptr);
    return image;
}

int RemainingMilliseconds(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads fd until its end or the deadline, answering prompts as they appear; then reaps pid.
ProgramResult Converse(pid_t pid, int fd, const std::vector<TerminalAnswer>& answers,
                       int timeoutSeconds) {
    ProgramResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    std::size_t next = 0;
    std::size_t searchFrom = 0;
    while (RemainingMilliseconds(deadline) > 0) {
        if (next < answers.size() &&
            result.output.find(answers[next].prompt, searchFrom) != std::string::npos) {
            const std::string typed = answers[next].answer + "\n";
            if (::write(fd, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) {
                break;
            }
            searchFrom = result.output.size();
            ++next;
            continue;
        }
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, RemainingMilliseconds(deadline)) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            break;  // the end of a pipe, or EIO once the terminal's last user closed it
        }
        result.output.append(buffer, static_cast<std::size_t>(got));
    }
    // The output can end (or a write fail) while the program still runs: its end is waited for
    // only until the deadline, then it is killed.
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 || (done < 0 && errno == EINTR)) {
        if (RemainingMilliseconds(deadline) == 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (done != pid) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return result;
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace

ProgramResult RunProgramWithInput(const std::vector<std::string>& arguments,
                                  const std::map<std::string, std::string>& environment,
                                  const std::string& input, int timeoutSeconds) {
    TemporaryFolder folder;
    const std::string inputPath = folder.Path() + "/input";
    const UniqueFd inputFd(::open(inputPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    int pipeFds[2];
    if (!inputFd || !WriteAll(inputFd.Get(), input.data(), input.size()) ||
        ::lseek(inputFd.Get(), 0, SEEK_SET) != 0 || ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return {};
    }
    const UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    ChildImage image = PrepareChild(arguments, environment);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return {};
    }
    if (pid == 0) {
        ::dup2(inputFd.Get(), 0);
        ::dup2(writeEnd.Get(), 1);
        ::dup2(writeEnd.Get(), 2);
        ::execve(image.argv[0], image.argv.data(), image.envp.data());
        ::_exit(127);
    }
    // Only the child writes: the output ends when it (and whatever it started) is done.
    writeEnd.Reset();
    return Converse(pid, readEnd.Get(), {}, timeoutSeconds);
}

ProgramResult RunProgramOnTerminal(const std::vector<std::string>& arguments,
                                   const std::map<std::string, std::string>& environment,
                                   const std::vector<TerminalAnswer>& answers, int timeoutSeconds) {
    ChildImage image = PrepareChild(arguments, environment);
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid < 0) {
        return {};
    }
    if (pid == 0) {
        ::execve(image.argv[0], image.argv.data(), image.envp.data());
        ::_exit(127);
    }
    const UniqueFd terminalFd(terminal);
    return Converse(pid, terminalFd.Get(), answers, timeoutSeconds);
}

}  // namespace quarnel::test
