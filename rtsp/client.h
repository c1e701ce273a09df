#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/socket.h"
#include "rtsp/message_parser.h"

namespace rtsp {

// Result of a request: Ok, or why it failed.
enum class ClientError {
    kOk,
    kStatus,    // the server answered with a status outside 2xx
    kTimeout,   // no reply within the reply time-out
    kClosed,    // the connection is closed (by the server or a failure)
    kSend,      // the request could not be written
    kArgument,  // a request the client cannot form
};

// Per-request options. Empty texts are not sent.
struct RequestOptions {
    std::string accept;     // DESCRIBE: Accept
    std::string transport;  // SETUP: Transport
    std::string range;      // PLAY: Range
};

// A decoded reply. For DESCRIBE, content_base holds the Content-Base value, or
// Content-Location when the server gave only that; empty when neither came.
struct Reply {
    int status_code = 0;
    std::string reason;
    std::string body;
    std::string content_base;
    Message message;  // every header as received
};

// What one SETUP established.
struct SetupHandle {
    std::string control_url;
    std::string transport;  // the server's Transport reply
    std::string session_id;
};

// Receives each interleaved packet of the channels registered under one
// interleave index, on the receive thread. The bytes are lent for the call
// only: the client takes them back when the callback returns, on every path.
using RtpCallback = void (*)(void* user, uint8_t channel, const uint8_t* packet, size_t length);
// Reserved for a periodic callback; only nullptr is accepted.
using PeriodicCallback = void (*)(void* user);
// Told on the receive thread, once, that the connection ended by the server's
// doing or a failure (not when the client itself closes it).
using ClosedCallback = void (*)(void* user);

struct ClientConfig {
    std::chrono::milliseconds connect_timeout{5000};
    std::chrono::milliseconds reply_timeout{10000};
    std::string user_agent = "Tallowmere/1.0";
    ClosedCallback on_closed = nullptr;
    void* on_closed_user = nullptr;
};

// An RTSP client for RTP carried in the RTSP TCP connection. One connection and
// one receive thread per client; requests may come from any thread and are
// sent one at a time, each waiting at most the reply time-out. Destruction
// closes the connection and joins the receive thread (after any callback in
// progress returns).
class Client {
  public:
    // Opens the TCP connection and starts the receive thread. Returns nothing
    // when the address is not an rtsp:// address or the connection fails; the
    // reason goes to *error when given.
    static std::unique_ptr<Client> Create(const std::string& url, const ClientConfig& config = {},
                                          std::string* error = nullptr);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Each returns ClientError::Ok on a 2xx reply. *reply (when given) receives the reply
    // whenever one came, also on failure, so the caller can read the status.
    ClientError Describe(const RequestOptions& options, std::unique_ptr<Reply>* reply);
    // aggregate: join the session of an earlier SETUP on this client.
    ClientError Setup(const std::string& control_url, const RequestOptions& options, bool aggregate,
                      std::unique_ptr<SetupHandle>* handle, std::unique_ptr<Reply>* reply);
    // Packets on channels 2 * index and 2 * index + 1 go to callback(user, ...).
    ClientError RegisterRtpCallback(RtpCallback callback, PeriodicCallback periodic,
                                    int interleave_index, void* user);
    ClientError Play(const std::string& control_url, const RequestOptions& options,
                     std::unique_ptr<Reply>* reply);
    ClientError Pause(const std::string& control_url, const RequestOptions& options,
                      std::unique_ptr<Reply>* reply);
    ClientError Teardown(const std::string& control_url, const RequestOptions& options,
                         std::unique_ptr<Reply>* reply);

    const std::string& Url() const { return url_; }
    std::string SessionId() const;
    bool IsOpen() const { return !closed_.load(); }

  private:
    Client(std::string url, const ClientConfig& config, avs::net::Socket fd);
    ClientError Request(const char* method, const std::string& target,
                        const RequestOptions& options, bool with_session,
                        std::unique_ptr<Reply>* reply);
    bool SendText(const std::string& text);
    void ReceiveLoop();
    void HandleMessage(Message&& message);
    void MaybeKeepAlive();
    void MarkClosed();

    static constexpr int kMaxInterleaveIndex = 128;  // channels 0..255

    const std::string url_;
    const ClientConfig config_;
    const avs::net::Socket fd_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> stopping_{false};

    std::mutex request_mutex_;  // one request in flight
    std::mutex send_mutex_;     // one writer on the socket

    mutable std::mutex state_mutex_;  // guards everything below
    std::condition_variable reply_ready_;
    uint32_t next_cseq_ = 1;
    uint32_t pending_cseq_ = 0;  // 0: nothing pending
    std::unique_ptr<Message> pending_reply_;
    std::string session_id_;
    std::chrono::seconds session_timeout_{0};
    std::chrono::steady_clock::time_point last_send_;
    struct Route {
        RtpCallback callback = nullptr;
        void* user = nullptr;
    } routes_[kMaxInterleaveIndex];

    std::thread receiver_;
};

}  // namespace rtsp
