// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <mutex>

#include "net/socket.h"

namespace avs::net {

namespace {

// The SDK has it in mstcpip.h; mingw-w64's headers lack it.
constexpr DWORD kUdpConnReset = _WSAIOW(IOC_VENDOR, 12);

SOCKET S(Socket socket) {
    return static_cast<SOCKET>(socket);
}

// Each module starts Winsock for itself: a filter DLL cannot count on its host having
// done it. It is never cleaned up; the process's end does that.
void Startup() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}

// Winsock's codes in the words the POSIX build uses, so both print the same messages.
std::string ErrorText(int code) {
    switch (code) {
        case WSAECONNREFUSED:
            return "Connection refused";
        case WSAETIMEDOUT:
            return "Connection timed out";
        case WSAECONNRESET:
            return "Connection reset by peer";
        case WSAECONNABORTED:
            return "Software caused connection abort";
        case WSAENETUNREACH:
            return "Network is unreachable";
        case WSAEHOSTUNREACH:
            return "No route to host";
        case WSAEADDRINUSE:
            return "Address already in use";
        case WSAEADDRNOTAVAIL:
            return "Cannot assign requested address";
        case WSAEACCES:
            return "Permission denied";
        case WSAENOTCONN:
            return "Transport endpoint is not connected";
        case WSAENOTSOCK:
            return "Socket operation on non-socket";
        case WSAEWOULDBLOCK:
            return "Resource temporarily unavailable";
        case WSAHOST_NOT_FOUND:
            return "Name or service not known";
        case WSATRY_AGAIN:
            return "Temporary failure in name resolution";
        case WSANO_DATA:
            return "No address associated with hostname";
        case WSANOTINITIALISED:
            return "Winsock is not started";
        default:
            break;
    }
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) --n;
    if (n > 0) return std::string(text, n);
    return "socket error " + std::to_string(code);
}

// A child process must not inherit the program's sockets.
void NotInherited(SOCKET s) {
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
}

std::ptrdiff_t IoResult(int n) {
    if (n != SOCKET_ERROR) return n;
    int code = WSAGetLastError();
    return code == WSAEWOULDBLOCK || code == WSAETIMEDOUT ? kNoData : kFailed;
}

int Clamp(size_t n) {
    return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
}

}  // namespace

Socket ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
                  std::string* error) {
    Startup();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string port_text = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), port_text.c_str(), &hints, &list);
    if (rc != 0) {
        if (error) *error = "cannot resolve " + host + ": " + ErrorText(rc);
        return kInvalidSocket;
    }
    SOCKET fd = INVALID_SOCKET;
    std::string last = "no address";
    for (addrinfo* ai = list; ai && fd == INVALID_SOCKET; ai = ai->ai_next) {
        SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        NotInherited(s);
        u_long on = 1;
        ioctlsocket(s, FIONBIO, &on);
        int r = connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen));
        int code = r == 0 ? 0 : WSAGetLastError();
        if (r != 0 && code == WSAEWOULDBLOCK) {
            // A failed connect shows in the exception set, a made one in the write set.
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval tv{};
            tv.tv_sec = static_cast<long>(timeout.count() / 1000);
            tv.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
            int ready = select(0, nullptr, &writable, &failed, &tv);
            if (ready > 0 && FD_ISSET(s, &writable) && !FD_ISSET(s, &failed)) {
                r = 0;
            } else if (ready > 0) {
                int so_error = 0;
                int len = sizeof so_error;
                getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len);
                code = so_error != 0 ? so_error : WSAECONNREFUSED;
            } else {
                code = ready == 0 ? WSAETIMEDOUT : WSAGetLastError();
            }
        }
        if (r == 0) {
            u_long off = 0;
            ioctlsocket(s, FIONBIO, &off);
            fd = s;
        } else {
            last = ErrorText(code);
            closesocket(s);
        }
    }
    freeaddrinfo(list);
    if (fd == INVALID_SOCKET) {
        if (error) *error = "cannot connect to " + host + ":" + port_text + ": " + last;
        return kInvalidSocket;
    }
    return static_cast<Socket>(fd);
}

Socket ListenTcp(const std::string& address, uint16_t port, int backlog, std::string* error) {
    Startup();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        if (error) *error = "not an IPv4 address: " + address;
        return kInvalidSocket;
    }
    SOCKET fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd == INVALID_SOCKET) {
        if (error) *error = "cannot make a socket: " + LastErrorText();
        return kInvalidSocket;
    }
    NotInherited(fd);
    // SO_REUSEADDR on Windows would let a second server take a port in use; exclusive
    // use is what the POSIX option gives a listener.
    BOOL one = TRUE;
    setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
               sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, backlog) != 0) {
        if (error)
            *error =
                "cannot listen on " + address + ":" + std::to_string(port) + ": " + LastErrorText();
        closesocket(fd);
        return kInvalidSocket;
    }
    return static_cast<Socket>(fd);
}

Socket Accept(Socket listener) {
    SOCKET fd = accept(S(listener), nullptr, nullptr);
    if (fd == INVALID_SOCKET) return kInvalidSocket;
    NotInherited(fd);
    // An accepted socket inherits the listener's non-blocking mode; callers expect a
    // blocking one, as accept4 gives.
    u_long off = 0;
    ioctlsocket(fd, FIONBIO, &off);
    return static_cast<Socket>(fd);
}

Socket OpenUdp(uint32_t address, uint16_t port) {
    Startup();
    SOCKET fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd == INVALID_SOCKET) return kInvalidSocket;
    NotInherited(fd);
    // Without this, a reply to a sender that has gone makes the next receive fail with
    // WSAECONNRESET, which would end a listener that POSIX keeps running.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(fd, kUdpConnReset, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(address);
    addr.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int saved = WSAGetLastError();
        closesocket(fd);
        WSASetLastError(saved);
        return kInvalidSocket;
    }
    return static_cast<Socket>(fd);
}

uint16_t LocalPort(Socket socket) {
    sockaddr_storage addr{};
    int len = sizeof addr;
    if (getsockname(S(socket), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return 0;
}

bool SetNoDelay(Socket socket) {
    BOOL one = TRUE;
    return setsockopt(S(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                      sizeof one) == 0;
}

bool SetNonBlocking(Socket socket) {
    u_long on = 1;
    return ioctlsocket(S(socket), FIONBIO, &on) == 0;
}

bool SetSendTimeout(Socket socket, std::chrono::milliseconds timeout) {
    DWORD ms = static_cast<DWORD>(timeout.count());
    return setsockopt(S(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
                      sizeof ms) == 0;
}

bool SetReceiveTimeout(Socket socket, std::chrono::milliseconds timeout) {
    DWORD ms = static_cast<DWORD>(timeout.count());
    return setsockopt(S(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
                      sizeof ms) == 0;
}

std::ptrdiff_t Send(Socket socket, const void* data, size_t n) {
    int r = send(S(socket), static_cast<const char*>(data), Clamp(n), 0);
    return IoResult(r);
}

std::ptrdiff_t Receive(Socket socket, void* buffer, size_t n) {
    int r = recv(S(socket), static_cast<char*>(buffer), Clamp(n), 0);
    return IoResult(r);
}

std::ptrdiff_t ReceiveFrom(Socket socket, void* buffer, size_t n, Endpoint* from) {
    sockaddr_in addr{};
    int len = sizeof addr;
    int r = recvfrom(S(socket), static_cast<char*>(buffer), Clamp(n), 0,
                     reinterpret_cast<sockaddr*>(&addr), &len);
    // Winsock reports a datagram longer than the buffer as an error after filling the
    // buffer; POSIX cuts it, which is what callers expect.
    if (r == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) r = Clamp(n);
    if (r != SOCKET_ERROR && from) {
        from->address = ntohl(addr.sin_addr.s_addr);
        from->port = ntohs(addr.sin_port);
    }
    return IoResult(r);
}

bool SendTo(Socket socket, const void* data, size_t n, const Endpoint& to) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(to.address);
    addr.sin_port = htons(to.port);
    int r = sendto(S(socket), static_cast<const char*>(data), Clamp(n), 0,
                   reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    return r == static_cast<int>(n);
}

int Wait(Socket socket, unsigned events, int timeout_ms) {
    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    if (events & kReadable) FD_SET(S(socket), &readable);
    if (events & kWritable) FD_SET(S(socket), &writable);
    FD_SET(S(socket), &failed);
    timeval tv{};
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
    int r = select(0, &readable, &writable, &failed, timeout_ms < 0 ? nullptr : &tv);
    if (r == SOCKET_ERROR) return -1;
    if (r == 0) return 0;
    unsigned ready = 0;
    bool error = FD_ISSET(S(socket), &failed);
    if ((events & kReadable) && (FD_ISSET(S(socket), &readable) || error)) ready |= kReadable;
    if ((events & kWritable) && (FD_ISSET(S(socket), &writable) || error)) ready |= kWritable;
    return static_cast<int>(ready);
}

void Shutdown(Socket socket) {
    shutdown(S(socket), SD_BOTH);
}

void Close(Socket socket) {
    if (socket != kInvalidSocket) closesocket(S(socket));
}

std::string LastErrorText() {
    return ErrorText(WSAGetLastError());
}

}  // namespace avs::net
