// A scripted RTSP server on 127.0.0.1 for client tests: it accepts one
// connection and runs the test's script on its own thread.
#pragma once

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

    uint16_t port() const { return port_; }
    std::string url(const std::string& path = "/media") const {
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
                if (r.kind == rtsp::ParseKind::Message) {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(r.message);
                    return r.message;
                }
                continue;
            }
            if (r.kind == rtsp::ParseKind::Error) return std::nullopt;
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

    std::vector<rtsp::Message> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
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
