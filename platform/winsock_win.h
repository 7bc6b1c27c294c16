#pragma once

// Windows only: Winsock is started once per process, on first use, and stays up until it ends.

namespace quarnel {

bool WinsockReady();

}  // namespace quarnel
