#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/socket.h"

namespace avs::net {

namespace {

int Fd(Socket socket) {
    return static_cast<int>(socket);
}

timeval ToTimeval(std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return tv;
}

std::ptrdiff_t IoResult(ssize_t n) {
    if (n >= 0) return n;
    return errno == EAGAIN || errno == EWOULDBLOCK ? kNoData : kFailed;
}

}  // namespace

Socket ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
                  std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string port_text = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), port_text.c_str(), &hints, &list);
    if (rc != 0) {
        if (error) *error = "cannot resolve " + host + ": " + gai_strerror(rc);
        return kInvalidSocket;
    }
    int fd = -1;
    std::string last = "no address";
    for (addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next) {
        int s = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (s < 0) continue;
        int flags = fcntl(s, F_GETFL, 0);
        fcntl(s, F_SETFL, flags | O_NONBLOCK);
        int r = connect(s, ai->ai_addr, ai->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            pollfd p{s, POLLOUT, 0};
            do {
                r = poll(&p, 1, static_cast<int>(timeout.count()));
            } while (r < 0 && errno == EINTR);
            if (r == 1) {
                int so_error = 0;
                socklen_t len = sizeof so_error;
                getsockopt(s, SOL_SOCKET, SO_ERROR, &so_error, &len);
                r = so_error == 0 ? 0 : -1;
                errno = so_error;
            } else {
                if (r == 0) errno = ETIMEDOUT;
                r = -1;
            }
        }
        if (r == 0) {
            fcntl(s, F_SETFL, flags);
            fd = s;
        } else {
            last = std::strerror(errno);
            close(s);
        }
    }
    freeaddrinfo(list);
    if (fd < 0 && error) *error = "cannot connect to " + host + ":" + port_text + ": " + last;
    return fd < 0 ? kInvalidSocket : fd;
}

Socket ListenTcp(const std::string& address, uint16_t port, int backlog, std::string* error) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        if (error) *error = "not an IPv4 address: " + address;
        return kInvalidSocket;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (error) *error = "cannot make a socket: " + LastErrorText();
        return kInvalidSocket;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, backlog) != 0) {
        if (error)
            *error =
                "cannot listen on " + address + ":" + std::to_string(port) + ": " + LastErrorText();
        close(fd);
        return kInvalidSocket;
    }
    return fd;
}

Socket Accept(Socket listener) {
    int fd;
    do {
        fd = accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kInvalidSocket : fd;
}

Socket OpenUdp(uint32_t address, uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kInvalidSocket;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(address);
    addr.sin_port = htons(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return kInvalidSocket;
    }
    return fd;
}

uint16_t LocalPort(Socket socket) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
    return 0;
}

bool SetNoDelay(Socket socket) {
    int one = 1;
    return setsockopt(Fd(socket), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
}

bool SetNonBlocking(Socket socket) {
    int flags = fcntl(Fd(socket), F_GETFL, 0);
    return flags >= 0 && fcntl(Fd(socket), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool SetSendTimeout(Socket socket, std::chrono::milliseconds timeout) {
    timeval tv = ToTimeval(timeout);
    return setsockopt(Fd(socket), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool SetReceiveTimeout(Socket socket, std::chrono::milliseconds timeout) {
    timeval tv = ToTimeval(timeout);
    return setsockopt(Fd(socket), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

std::ptrdiff_t Send(Socket socket, const void* data, size_t n) {
    ssize_t r;
    do {
        r = send(Fd(socket), data, n, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return IoResult(r);
}

std::ptrdiff_t Receive(Socket socket, void* buffer, size_t n) {
    ssize_t r;
    do {
        r = recv(Fd(socket), buffer, n, 0);
    } while (r < 0 && errno == EINTR);
    return IoResult(r);
}

std::ptrdiff_t ReceiveFrom(Socket socket, void* buffer, size_t n, Endpoint* from) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ssize_t r;
    do {
        r = recvfrom(Fd(socket), buffer, n, 0, reinterpret_cast<sockaddr*>(&addr), &len);
    } while (r < 0 && errno == EINTR);
    if (r >= 0 && from) {
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
    ssize_t r;
    do {
        r = sendto(Fd(socket), data, n, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
                   sizeof addr);
    } while (r < 0 && errno == EINTR);
    return r == static_cast<ssize_t>(n);
}

int Wait(Socket socket, unsigned events, int timeout_ms) {
    pollfd p{Fd(socket), 0, 0};
    if (events & kReadable) p.events |= POLLIN;
    if (events & kWritable) p.events |= POLLOUT;
    int r;
    do {
        r = poll(&p, 1, timeout_ms < 0 ? -1 : timeout_ms);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) return r;
    unsigned ready = 0;
    if ((events & kReadable) && (p.revents & (POLLIN | POLLHUP | POLLERR))) ready |= kReadable;
    if ((events & kWritable) && (p.revents & (POLLOUT | POLLHUP | POLLERR))) ready |= kWritable;
    if (p.revents & POLLNVAL) return -1;
    return static_cast<int>(ready);
}

void Shutdown(Socket socket) {
    shutdown(Fd(socket), SHUT_RDWR);
}

void Close(Socket socket) {
    if (socket != kInvalidSocket) close(Fd(socket));
}

std::string LastErrorText() {
    return std::strerror(errno);
}

}  // namespace avs::net
