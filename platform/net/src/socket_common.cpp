// What the sockets do the same way on every platform, over the platform's Send.
#include "net/socket.h"

namespace avs::net {

bool SendAll(Socket socket, const void* data, size_t n) {
    const char* bytes = static_cast<const char*>(data);
    size_t sent = 0;
    while (sent < n) {
        std::ptrdiff_t r = Send(socket, bytes + sent, n - sent);
        if (r <= 0) return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}

}  // namespace avs::net
