// A bare RTSP client for tests of the server: it sends the requests it is told to and
// reads what comes back, replies and interleaved packets alike, with time limits.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/socket.h"
#include "rtsp/message_parser.h"

namespace rtspservetest {

class RawClient {
  public:
    RawClient() = default;
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    ~RawClient() { Close(); }

    bool Connect(uint16_t port) {
        fd_ = avs::net::ConnectTcp("127.0.0.1", port, std::chrono::seconds(2), nullptr);
        return fd_ != avs::net::kInvalidSocket;
    }
    void Close() {
        avs::net::Close(fd_);
        fd_ = avs::net::kInvalidSocket;
    }

    bool Send(const std::string& method, const std::string& uri, const std::string& headers = {}) {
        std::string text = method + " " + uri + " RTSP/1.0\r\nCSeq: " + std::to_string(++cseq_) +
                           "\r\n" + headers + "\r\n";
        return avs::net::SendAll(fd_, text.data(), text.size());
    }

    // The next reply; interleaved packets before it are counted. Nothing when the
    // connection ends or `limit` passes first.
    std::optional<rtsp::Message> Reply(std::chrono::milliseconds limit = std::chrono::seconds(3)) {
        auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            while (auto r = Next()) {
                if (r->kind == rtsp::ParseKind::kMessage) return std::move(r->message);
            }
            if (closed_ || !Fill(end)) return std::nullopt;
        }
    }

    // Sends a request and waits for its reply.
    std::optional<rtsp::Message> Request(const std::string& method, const std::string& uri,
                                         const std::string& headers = {}) {
        if (!Send(method, uri, headers)) return std::nullopt;
        return Reply();
    }

    // Reads until the server closes the connection (true) or `limit` passes (false).
    bool WaitClosed(std::chrono::milliseconds limit) {
        auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            while (Next()) {
            }
            if (closed_) return true;
            if (!Fill(end)) return closed_;
        }
    }

    // Reads until an RTCP BYE, the close or `limit`; true on a BYE.
    bool WaitBye(std::chrono::milliseconds limit) {
        auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            while (Next()) {
                if (byes_ > 0) return true;
            }
            if (closed_ || !Fill(end)) return false;
        }
    }

    bool Closed() const { return closed_; }
    size_t Pictures() const { return pictures_; }  // RTP packets with the marker on channel 0
    size_t Packets() const { return packets_; }    // RTP packets on even channels
    size_t Byes() const { return byes_; }
    // The NTP seconds (since 1900) of the last sender report, 0 before one.
    uint64_t ReportSeconds() const { return report_seconds_; }
    std::string session;  // the id of the last Session header seen, for the caller to send

  private:
    // One parsed item from what was received, or nothing when more is needed.
    uint64_t report_seconds_ = 0;
    std::optional<rtsp::ParseResult> Next() {
        if (used_ == 0) return std::nullopt;
        rtsp::ParseResult r = rtsp::ParseNext(buffer_.data(), used_);
        if (r.kind == rtsp::ParseKind::kNeedMore) return std::nullopt;
        if (r.kind == rtsp::ParseKind::kError) {
            closed_ = true;
            used_ = 0;
            return std::nullopt;
        }
        if (r.kind == rtsp::ParseKind::kInterleaved) {
            if (r.channel % 2 == 0) {
                ++packets_;
                if (r.channel == 0 && r.packet_length >= 2 && (r.packet[1] & 0x80)) ++pictures_;
            } else if (r.packet_length >= 2 && r.packet[1] == 203) {
                ++byes_;
            } else if (r.packet_length >= 20 && r.packet[1] == 200) {
                report_seconds_ = 0;  // the sender report's NTP seconds
                for (int i = 8; i < 12; ++i) report_seconds_ = report_seconds_ << 8 | r.packet[i];
            }
            r.packet = nullptr;
        } else if (const std::string* s = r.message.Header("Session")) {
            session = s->substr(0, s->find(';'));
        }
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(r.consumed));
        used_ -= r.consumed;
        return r;
    }

    // Receives more; false when `end` passed with nothing new.
    bool Fill(std::chrono::steady_clock::time_point end) {
        auto now = std::chrono::steady_clock::now();
        if (now >= end) return false;
        int ms = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
        if (avs::net::WaitReadable(fd_, ms) <= 0) return false;
        if (buffer_.size() < used_ + 65536) buffer_.resize(used_ + 65536);
        std::ptrdiff_t n = avs::net::Receive(fd_, buffer_.data() + used_, 65536);
        if (n <= 0) {
            closed_ = true;
            return true;
        }
        used_ += static_cast<size_t>(n);
        return true;
    }

    avs::net::Socket fd_ = avs::net::kInvalidSocket;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    bool closed_ = false;
    unsigned cseq_ = 0;
    size_t pictures_ = 0, packets_ = 0, byes_ = 0;
};

}  // namespace rtspservetest
