#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "net/socket.h"
#include "tools/rtspserve/media_index.h"

namespace rtspserve {

// Deliberate misbehaviour, for tests of clients.
struct Faults {
    bool describe_404 = false;         // DESCRIBE answered 404 Not Found
    bool application_media = false;    // the description lists an "application" media too
    bool no_session_control = false;   // no session-level a=control
    uint64_t close_after_packets = 0;  // close the connection after this many RTP packets
    uint64_t garbage_every = 0;        // an interleaved packet of random bytes every N packets
    bool wrap_timestamps = false;      // RTP time stamps start 2 s before the 32-bit wrap
    // Real time only: what falls due in [stall_at, stall_at + stall_seconds) of the
    // stream is held back and sent in one burst at its end, as after a network stall.
    double stall_at = 0;
    double stall_seconds = 0;
    // Real time only: packets leave in bursts, each at the next multiple of this many
    // milliseconds after it falls due (0: each when due).
    uint32_t jitter_ms = 0;
};

struct ServerOptions {
    std::string video_path;
    std::string audio_path;   // optional MP3 file
    bool audio_only = false;  // describe and send only the MP3 (which must be given)
    std::string bind_address = "0.0.0.0";
    uint16_t port = 8554;       // 0: any free port
    bool paced = true;          // real time; false: as fast as the client reads
    size_t max_payload = 1400;  // RTP payload bytes per packet
    bool verbose = true;        // one log line per request on stderr
    // Connections served at once; a client beyond them is answered 503 and closed.
    size_t max_connections = 32;
    // A connection that is not playing and has sent nothing for this long is closed
    // (0: never). The Session header's time-out tells clients, so they keep it alive.
    std::chrono::milliseconds idle_timeout{30000};
    Faults faults;
};

// Serves one AVS elementary stream (and optionally an MP3 file) over RTSP with
// RTP interleaved in the TCP connection. Any request address is accepted; each
// connection gets its own session, sending position and thread, up to
// max_connections of them. The request log goes through the queue of request_log.h.
class Server {
  public:
    // Indexes the files and opens the listening socket. Nothing and a reason
    // in *error when that fails.
    static std::unique_ptr<Server> Create(const ServerOptions& options, std::string* error);
    ~Server();  // Stop()

    void Start();  // accepts on a thread of its own
    void Stop();   // ends the accept thread and every connection
    uint16_t Port() const { return port_; }
    const AvsIndex& Video() const { return video_; }
    const std::optional<Mp3Index>& Audio() const { return audio_; }
    double DurationSeconds() const;
    std::string Describe(const std::string& base) const;  // the SDP text

  private:
    Server(const ServerOptions& options, AvsIndex video, std::optional<Mp3Index> audio,
           avs::net::Socket fd, uint16_t port);
    void AcceptLoop();
    void ServeConnection(avs::net::Socket fd, uint64_t id);

    const ServerOptions options_;
    const AvsIndex video_;
    const std::optional<Mp3Index> audio_;
    const avs::net::Socket listen_fd_;
    const uint16_t port_;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex connections_mutex_;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::list<Worker> connections_;
};

}  // namespace rtspserve
