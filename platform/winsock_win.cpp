#include "platform/winsock_win.h"

#include <winsock2.h>

namespace quarnel {

bool WinsockReady() {
    static const bool ready = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

}  // namespace quarnel
