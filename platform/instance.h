#pragma once

// Instance markers and the instance message. A long-running mode holds an exclusive flock on a
// lock file of its own for the life of its process: holding the lock is the marker that the mode
// runs (the kernel releases it the moment the process ends, however it ends), and no other user
// can take or fake it, because the lock file lies in a folder that only its owner may write and
// is readable by its owner only. Beside the lock file a datagram socket with a path receives the
// instance codes that other processes send to that mode.
//
// Folders: the machine-wide service's markers live in RuntimeFolder() (root-owned, 0755); the
// per-user modes' markers in the user's private folder (see InstanceFolder).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/native_handle.h"

namespace quarnel {

// The folder of a user's markers (userId given) or of the machine-wide ones (none):
//   machine-wide:   RuntimeFolder()
//   a user's own:   $XDG_RUNTIME_DIR/quarnel-updater when the variable names an absolute path and
//                   the process runs as that user;
//   otherwise:      /run/user/<uid>/quarnel-updater when /run/user/<uid> belongs to the user,
//                   else /tmp/quarnel-updater-<uid>;
// each below QUARNEL_ROOT when that is set. The folder is created on first use (a user's folder
// 0700 and owned by the user, also when root creates it for the user) and used only while it is
// no symbolic link, belongs to its user and is closed to everybody else.
std::string InstanceFolder(std::optional<std::uint32_t> userId);

// The socket on which the marker of guidText in that folder receives codes.
std::string InstanceSocketPath(std::string_view guidText, std::optional<std::uint32_t> userId);

// What a process holds while it holds a marker.
struct InstanceMarker {
    UniqueHandle lock;
    // Nonblocking, close-on-exec, with sender credentials attached to what it receives.
    UniqueHandle endpoint;
};

enum class InstanceClaim { Held, HeldElsewhere, Failed };
// Takes the marker of guidText for userId (none: the machine-wide one). Held: marker holds the
// lock and the bound socket; HeldElsewhere: a live process holds the lock (also seen by a user
// who may not open the lock file); Failed: the folder or the lock file cannot be used.
InstanceClaim ClaimInstanceMarker(std::string_view guidText, std::optional<std::uint32_t> userId,
                                  InstanceMarker& marker);

enum class InstanceReceive { Code, Refused, Nothing };
// Takes one pending datagram without waiting. Code: a well-formed code sent by root, by the
// process's own user or by listeningUser; Refused: anything else (other users, bad size);
// Nothing: no datagram pending.
InstanceReceive ReceiveInstanceCode(NativeHandle endpoint, std::uint32_t listeningUser,
                                    std::int32_t& code);

// An unnamed datagram socket for sending codes; invalid when none can be created.
UniqueHandle CreateInstanceSender();
// Queues one code to the socket at socketPath without waiting. False when nobody listens there,
// the sender may not reach it, or its queue is full.
bool SendInstanceCode(NativeHandle sender, const std::string& socketPath, std::int32_t code);

}  // namespace quarnel
