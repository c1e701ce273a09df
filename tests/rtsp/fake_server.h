// A scripted RTSP server on 127.0.0.1 for client tests: it accepts one
// connection and runs the test's script on its own thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/socket.h"
#include "rtsp/message_parser.h"

namespace rtsptest {

class FakeServer {
  public:
    using Script = std::function<void(FakeServer&)>;

    explicit FakeServer(Script script) {
        listen_fd_ = avs::net::ListenTcp("127.0.0.1", 0, 4, nullptr);
        port_ = avs::net::LocalPort(listen_fd_);
        thread_ = std::thread([this, script = std::move(script)] {
            if (avs::net::WaitReadable(listen_fd_, 5000) == 1) {
                fd_ = avs::net::Accept(listen_fd_);
                if (fd_ != avs::net::kInvalidSocket) script(*this);
            }
            Close();
        });
    }
    ~FakeServer() {
        if (thread_.joinable()) thread_.join();
        avs::net::Close(listen_fd_);
    }

    uint16_t Port() const { return port_; }
    std::string Url(const std::string& path = "/media") const {
        return "rtsp://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Next request from the client; nothing after the time-out or on close.
    // Interleaved packets from the client are skipped.
    std::optional<rtsp::Message> ReadRequest(int timeout_ms = 5000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            rtsp::ParseResult r = rtsp::ParseNext(in_.data(), in_.size());
            if (r.consumed > 0) {
                in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(r.consumed));
                if (r.kind == rtsp::ParseKind::kMessage) {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(r.message);
                    return r.message;
                }
                continue;
            }
            if (r.kind == rtsp::ParseKind::kError) return std::nullopt;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || fd_ == avs::net::kInvalidSocket) return std::nullopt;
            if (avs::net::WaitReadable(fd_, static_cast<int>(left.count())) != 1)
                return std::nullopt;
            uint8_t chunk[4096];
            std::ptrdiff_t n = avs::net::Receive(fd_, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            in_.insert(in_.end(), chunk, chunk + n);
        }
    }

    void Write(std::string_view bytes) {
        if (fd_ != avs::net::kInvalidSocket) avs::net::SendAll(fd_, bytes.data(), bytes.size());
    }
    static std::string Interleaved(uint8_t channel, const std::vector<uint8_t>& packet) {
        std::string out = {'$', static_cast<char>(channel), static_cast<char>(packet.size() >> 8),
                           static_cast<char>(packet.size() & 0xFF)};
        out.append(packet.begin(), packet.end());
        return out;
    }
    static std::string Reply(const rtsp::Message& request, const std::string& headers = "",
                             const std::string& body = "", int code = 200) {
        std::string text = "RTSP/1.0 " + std::to_string(code) + " Whatever\r\n";
        if (const std::string* cseq = request.Header("CSeq")) text += "CSeq: " + *cseq + "\r\n";
        text += headers;
        if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return text + "\r\n" + body;
    }
    void Close() {
        avs::net::Close(fd_);
        fd_ = avs::net::kInvalidSocket;
    }
    // Waits until the client closes the connection (or the time-out).
    bool WaitForClose(int timeout_ms = 5000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (fd_ != avs::net::kInvalidSocket && std::chrono::steady_clock::now() < deadline) {
            if (avs::net::WaitReadable(fd_, 50) == 1) {
                uint8_t chunk[4096];
                std::ptrdiff_t n = avs::net::Receive(fd_, chunk, sizeof chunk);
                if (n <= 0) return true;
                in_.insert(in_.end(), chunk, chunk + n);
            }
        }
        return false;
    }

    std::vector<rtsp::Message> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // One RTP packet: version 2, no CSRC, the given time stamp and SSRC 1.
    static std::vector<uint8_t> RtpPacket(uint8_t payload_type, bool marker, uint16_t sequence,
                                          uint32_t timestamp, const std::vector<uint8_t>& payload) {
        std::vector<uint8_t> p = {0x80,
                                  static_cast<uint8_t>((marker ? 0x80 : 0) | payload_type),
                                  static_cast<uint8_t>(sequence >> 8),
                                  static_cast<uint8_t>(sequence),
                                  static_cast<uint8_t>(timestamp >> 24),
                                  static_cast<uint8_t>(timestamp >> 16),
                                  static_cast<uint8_t>(timestamp >> 8),
                                  static_cast<uint8_t>(timestamp),
                                  0,
                                  0,
                                  0,
                                  1};
        p.insert(p.end(), payload.begin(), payload.end());
        return p;
    }
    // A compound RTCP packet: an empty receiver report, then BYE for SSRC 1.
    static std::vector<uint8_t> RtcpBye() {
        return {0x80, 201, 0, 1, 0, 0, 0, 1, 0x81, 203, 0, 1, 0, 0, 0, 1};
    }

  private:
    avs::net::Socket listen_fd_ = avs::net::kInvalidSocket;
    avs::net::Socket fd_ = avs::net::kInvalidSocket;
    uint16_t port_ = 0;
    std::vector<uint8_t> in_;
    std::mutex mutex_;
    std::vector<rtsp::Message> requests_;
    std::thread thread_;
};

}  // namespace rtsptest

namespace rtsptest {

// A stored AVS stream (video only, payload type 96, 90 kHz) told by a script:
// DESCRIBE, SETUP and PLAY answered, `frames` pictures of `frame_bytes` sent
// at once, 40 ms apart in stream time, then the faults asked for. Unless it
// closes, the server then stays silent with the connection open until
// TEARDOWN (or `linger_ms`), so only the client can end the stream.
struct StoredStream {
    std::optional<std::string> range = "npt=0-4";  // the a=range value; none when empty
    int frames = 50;
    size_t frame_bytes = 600;
    uint32_t first_timestamp = 90000;
    int jump_at = -1;  // this picture's time stamp lies `jump` ticks ahead
    uint32_t jump = 0;
    int junk_at = -1;  // 16 bytes of junk on the RTCP channel before this picture
    uint8_t junk_second_byte = 96;
    uint32_t junk_timestamp = 0;
    bool bye = false;    // an RTCP BYE after the last picture
    bool close = false;  // the connection closes after the last picture
    int linger_ms = 15000;

    // The picture bytes as the client rebuilds them (00 00 01, then the unit).
    std::vector<uint8_t> Picture(int index) const {
        std::vector<uint8_t> unit = {static_cast<uint8_t>(index % 10 == 0 ? 0xB3 : 0xB6)};
        unit.resize(frame_bytes, static_cast<uint8_t>(0x40 + index % 64));
        std::vector<uint8_t> picture = {0, 0, 1};
        picture.insert(picture.end(), unit.begin(), unit.end());
        return picture;
    }

    void operator()(FakeServer& s) const {
        auto describe = s.ReadRequest();
        if (!describe) return;
        std::string sdp = "v=0\r\ns=stored\r\na=control:*\r\n";
        if (range) sdp += "a=range:" + *range + "\r\n";
        sdp +=
            "m=video 0 RTP/AVP 96\r\na=rtpmap:96 AVS1-P2/90000\r\n"
            "a=fmtp:96 sprop-parameter-sets=sAAB\r\na=control:trackID=1\r\n";
        s.Write(FakeServer::Reply(*describe, "", sdp));
        auto setup = s.ReadRequest();
        if (!setup) return;
        s.Write(FakeServer::Reply(
            *setup, "Session: F1;timeout=60\r\nTransport: RTP/AVP/TCP;interleaved=0-1\r\n"));
        std::optional<rtsp::Message> play;
        while ((play = s.ReadRequest()) && play->method != "PLAY")
            s.Write(FakeServer::Reply(*play, "Session: F1\r\n"));
        if (!play) return;
        std::string out = FakeServer::Reply(*play, "Session: F1\r\n");
        for (int i = 0; i < frames; ++i) {
            if (i == junk_at) {
                std::vector<uint8_t> junk = {0x80,
                                             junk_second_byte,
                                             0x12,
                                             0x34,
                                             static_cast<uint8_t>(junk_timestamp >> 24),
                                             static_cast<uint8_t>(junk_timestamp >> 16),
                                             static_cast<uint8_t>(junk_timestamp >> 8),
                                             static_cast<uint8_t>(junk_timestamp),
                                             0x5A,
                                             0xA5,
                                             0x5A,
                                             0xA5,
                                             0x01,
                                             0xB6,
                                             0x77,
                                             0x77};
                out += FakeServer::Interleaved(1, junk);
            }
            uint32_t ts = first_timestamp + static_cast<uint32_t>(i) * 3600;
            if (i == jump_at) ts += jump;
            std::vector<uint8_t> picture = Picture(i);
            std::vector<uint8_t> payload = {0x01};  // a single unit
            payload.insert(payload.end(), picture.begin() + 3, picture.end());
            out += FakeServer::Interleaved(
                0, FakeServer::RtpPacket(96, true, static_cast<uint16_t>(i), ts, payload));
        }
        if (bye) out += FakeServer::Interleaved(1, FakeServer::RtcpBye());
        s.Write(out);
        if (close) return;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(linger_ms);
        while (std::chrono::steady_clock::now() < deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            auto request = s.ReadRequest(static_cast<int>(std::max<long long>(left.count(), 1)));
            if (!request) break;
            s.Write(FakeServer::Reply(*request, "Session: F1\r\n"));
            if (request->method == "TEARDOWN") {
                s.WaitForClose(2000);
                break;
            }
        }
    }
};

}  // namespace rtsptest
