#include "platform/spawn_setup_linux.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>

extern char** environ;

namespace quarnel {

SpawnSetup::SpawnSetup(const std::vector<std::string>& arguments) : copies_(arguments) {
    ::posix_spawnattr_init(&attributes_);
    ::posix_spawn_file_actions_init(&actions_);
    usable_ = !copies_.empty() && !copies_[0].empty() && copies_[0][0] == '/';
    for (std::string& argument : copies_) {
        argv_.push_back(argument.data());
    }
    argv_.push_back(nullptr);
    sigset_t empty;
    sigset_t all;
    ::sigemptyset(&empty);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes_, &empty);
    ::posix_spawnattr_setsigdefault(&attributes_, &all);
    flags_ = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    ::posix_spawnattr_setflags(&attributes_, flags_);
}

void SpawnSetup::NewSession() {
    flags_ |= POSIX_SPAWN_SETSID;
    ::posix_spawnattr_setflags(&attributes_, flags_);
}

SpawnSetup::~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
}

void SpawnSetup::InputFromNull() {
    ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
}

pid_t SpawnSetup::Spawn(char* const* environment) {
    if (!usable_) {
        errno = EINVAL;
        return -1;
    }
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, argv_[0], &actions_, &attributes_, argv_.data(),
                                    environment != nullptr ? environment : environ);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

}  // namespace quarnel
