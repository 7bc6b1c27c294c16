#pragma once

// Instance markers and the instance message. A long-running mode binds an abstract local datagram
// socket under a name of its own: the bound name is the marker that the mode runs (it is free
// again the moment the process ends, however it ends), and the same socket receives the instance
// codes that other processes send to that mode.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace quarnel {

// The socket name of a marker: the mode's GUID text, the user id for per-user modes (none for a
// machine-wide mode) and the QUARNEL_ROOT tag, so that separate roots never see each other.
std::string InstanceEndpointName(std::string_view guidText, std::optional<std::uint32_t> userId);

enum class InstanceBind { Bound, AlreadyBound, Failed };
// Binds the named endpoint. Bound: endpoint holds the socket (nonblocking, close-on-exec, with
// sender credentials attached to what it receives); AlreadyBound: another socket holds the name.
InstanceBind BindInstanceEndpoint(const std::string& name, UniqueFd& endpoint);

enum class InstanceReceive { Code, Refused, Nothing };
// Takes one pending datagram without waiting. Code: a well-formed code sent by root, by the
// process's own user or by listeningUser; Refused: anything else (other users, bad size);
// Nothing: no datagram pending.
InstanceReceive ReceiveInstanceCode(int endpoint, std::uint32_t listeningUser, std::int32_t& code);

// An unnamed datagram socket for sending codes; invalid when none can be created.
UniqueFd CreateInstanceSender();
// Queues one code to the named endpoint without waiting. False when nobody listens under that
// name or its queue is full.
bool SendInstanceCode(int sender, const std::string& name, std::int32_t code);

}  // namespace quarnel
