#pragma once

// Windows only: the TCP/IP configuration of the adapters, one subkey per adapter GUID.

namespace quarnel {

inline constexpr const char* kTcpipInterfacesKey =
    "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces";

}  // namespace quarnel
