#pragma once

// The one way this program starts another: posix_spawn with a copied argument vector and a
// clean signal state (the caller may block or catch signals, as the service does; the child
// starts with an empty mask and default actions). Callers add their descriptor arrangements.

#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace quarnel {

class SpawnSetup {
  public:
    // arguments[0] must be a full path; Usable() tells.
    explicit SpawnSetup(const std::vector<std::string>& arguments);
    ~SpawnSetup();
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool Usable() const { return usable_; }
    posix_spawn_file_actions_t* Actions() { return &actions_; }
    // Standard input from /dev/null.
    void InputFromNull();
    // The child starts a session of its own (setsid): it has no controlling terminal and is
    // reached by no signal meant for this process's session or process group.
    void NewSession();
    // Starts the program with the environment given (null: this process's); the process id, or
    // -1 with errno set.
    pid_t Spawn(char* const* environment = nullptr);

  private:
    bool usable_ = false;
    short flags_ = 0;
    std::vector<std::string> copies_;
    std::vector<char*> argv_;
    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

}  // namespace quarnel
