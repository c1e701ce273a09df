// Sockets the same way on every platform: TCP connect with a time-out, listen and accept,
// UDP datagrams on IPv4, whole and partial sends, receives and readiness waits. Every
// call retries interrupted system calls itself, and no send raises SIGPIPE.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace avs::net {

// Wide enough for a POSIX descriptor and for a Winsock SOCKET, whose invalid value is
// all ones, as -1 is here.
using Socket = std::intptr_t;
inline constexpr Socket kInvalidSocket = -1;

// Results of Receive, ReceiveFrom and Send besides a byte count (0 from a receive is the
// peer's orderly close).
inline constexpr std::ptrdiff_t kFailed = -1;
// Nothing now: a non-blocking socket would block, or the receive time-out passed.
inline constexpr std::ptrdiff_t kNoData = -2;

// An IPv4 address and port in host order.
struct Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

// Connects to host:port (any address family the name resolves to), giving up on each
// address after `timeout`. The socket is blocking. On failure kInvalidSocket, and *error
// (when given) says "cannot resolve HOST: ..." or "cannot connect to HOST:PORT: ...".
Socket ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
                  std::string* error);

// A listening TCP socket on an IPv4 address given as text ("0.0.0.0", "127.0.0.1"),
// with address reuse; port 0 takes any free port (LocalPort tells which). On failure
// kInvalidSocket and a reason in *error.
Socket ListenTcp(const std::string& address, uint16_t port, int backlog, std::string* error);

// The next connection waiting on a listening socket; kInvalidSocket when none or on error.
Socket Accept(Socket listener);

// A UDP socket bound to the IPv4 address and port; kInvalidSocket on failure (creating or
// binding; LastErrorText says why).
Socket OpenUdp(uint32_t address, uint16_t port);

// The local port a socket is bound to; 0 when unknown.
uint16_t LocalPort(Socket socket);

bool SetNoDelay(Socket socket);
bool SetNonBlocking(Socket socket);
bool SetSendTimeout(Socket socket, std::chrono::milliseconds timeout);
bool SetReceiveTimeout(Socket socket, std::chrono::milliseconds timeout);

// One send: the bytes taken (perhaps fewer than n), kNoData or kFailed.
std::ptrdiff_t Send(Socket socket, const void* data, size_t n);
// Sends every byte of a blocking socket; false when the connection failed or the send
// time-out passed.
bool SendAll(Socket socket, const void* data, size_t n);
// One receive: bytes received, 0 when the peer closed, kNoData or kFailed.
std::ptrdiff_t Receive(Socket socket, void* buffer, size_t n);

// One datagram; a longer one is cut to n bytes. Same results as Receive.
std::ptrdiff_t ReceiveFrom(Socket socket, void* buffer, size_t n, Endpoint* from);
bool SendTo(Socket socket, const void* data, size_t n, const Endpoint& to);

// Readiness: Wait gives the subset of `events` that is ready (a closed or failed socket
// counts as readable), 0 after timeout_ms (negative: no limit), -1 on error.
inline constexpr unsigned kReadable = 1;
inline constexpr unsigned kWritable = 2;
int Wait(Socket socket, unsigned events, int timeout_ms);
// 1 when readable, 0 after the time-out, -1 on error.
inline int WaitReadable(Socket socket, int timeout_ms) {
    int r = Wait(socket, kReadable, timeout_ms);
    return r > 0 ? 1 : r;
}

// Ends both directions: the peer sees the end. A wait on this socket is not woken by it
// everywhere (not under Winsock), so receivers wait in bounded steps and check a stop
// flag. The socket stays open.
void Shutdown(Socket socket);
void Close(Socket socket);

// The text of the last failed socket call on this thread.
std::string LastErrorText();

}  // namespace avs::net
