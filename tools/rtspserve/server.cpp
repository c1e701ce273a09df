#include "tools/rtspserve/server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string_view>
#include <thread>

#include "files/files.h"
#include "net/socket.h"
#include "rtsp/message_parser.h"
#include "rtsp/sdp.h"
#include "tools/rtspserve/packetizer.h"
#include "tools/rtspserve/request_log.h"

namespace rtspserve {

namespace net = avs::net;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kVideoPayloadType = 96;
constexpr uint8_t kAudioPayloadType = 14;
constexpr uint32_t kClock = 90000;
constexpr size_t kHighWater = 256 * 1024;  // queued output before packets wait
constexpr size_t kMaxInput = 256 * 1024;
// Queued output beyond which the client's requests are not read until it reads: a
// client that sends requests and never reads the answers would otherwise make them
// pile up without end.
constexpr size_t kMaxPending = 4 * kHighWater;

std::string Base64(const std::vector<uint8_t>& bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        for (int k = 3; k >= 0; --k) out += kAlphabet[(v >> (6 * k)) & 63];
    }
    if (size_t rest = bytes.size() - i) {
        uint32_t v = bytes[i] << 16;
        if (rest == 2) v |= bytes[i + 1] << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// One time of an npt range, "12.5" or "h:mm:ss[.fraction]" (an exponent is taken too),
// in seconds; nothing when it is anything else. Only digits are accepted, so the
// result is never negative nor "not a number"; it may be infinite when too large.
std::optional<double> ParseNptTime(std::string_view text) {
    auto decimal = [](std::string_view t, bool exponent) -> std::optional<double> {
        size_t i = 0, digits = 0;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
        if (i < t.size() && t[i] == '.')
            for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) ++digits;
        if (digits == 0) return std::nullopt;
        if (exponent && i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
            size_t j = i + 1;
            if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
            size_t first = j;
            while (j < t.size() && t[j] >= '0' && t[j] <= '9') ++j;
            if (j == first) return std::nullopt;
            i = j;
        }
        if (i != t.size()) return std::nullopt;
        return std::strtod(std::string(t).c_str(), nullptr);
    };
    size_t colon = text.find(':');
    if (colon == std::string_view::npos) return decimal(text, true);
    size_t second = text.find(':', colon + 1);
    if (second == std::string_view::npos) return std::nullopt;
    std::string_view h = text.substr(0, colon), m = text.substr(colon + 1, second - colon - 1);
    std::optional<double> hours = decimal(h, false), minutes = decimal(m, false),
                          seconds = decimal(text.substr(second + 1), false);
    if (!hours || !minutes || !seconds || h.find('.') != std::string_view::npos ||
        m.find('.') != std::string_view::npos || m.size() > 2 || *minutes >= 60 || *seconds >= 60)
        return std::nullopt;
    return *hours * 3600 + *minutes * 60 + *seconds;
}

// A PLAY request's npt range. A missing start ("now", or "-E") keeps the position.
struct NptRange {
    std::optional<double> start, stop;
};

// Nothing when the header is not a range of npt times; other units are not checked.
std::optional<NptRange> ParseRange(const std::string& header) {
    NptRange range;
    std::string_view text = header;
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.compare(0, 4, "npt=") != 0) return range;
    text.remove_prefix(4);
    text = text.substr(0, text.find(';'));  // ";time=..." is not used
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    size_t dash = text.find('-');
    std::string_view first = text.substr(0, dash);
    if (first != "now" && !(first.empty() && dash != std::string_view::npos)) {
        range.start = ParseNptTime(first);
        if (!range.start) return std::nullopt;
    }
    if (dash != std::string_view::npos && dash + 1 < text.size()) {
        range.stop = ParseNptTime(text.substr(dash + 1));
        if (!range.stop) return std::nullopt;
    }
    return range;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// One client connection: its requests, its session and its sending position.
class Connection {
  public:
    Connection(const Server& server, const ServerOptions& options, net::Socket fd, uint64_t id,
               const std::atomic<bool>& stopping)
        : server_(server), options_(options), fd_(fd), id_(id), stopping_(stopping), rng_(id) {
        char text[32];
        std::snprintf(text, sizeof text, "%08X%04X", static_cast<unsigned>(rng_()),
                      static_cast<unsigned>(id & 0xFFFF));
        session_id_ = text;
        ts_base_ = options.faults.wrap_timestamps ? 0xFFFFFFFFu - 2 * kClock : rng_() & 0x0FFFFFFF;
        for (auto& t : tracks_) {
            t.ssrc = static_cast<uint32_t>(rng_());
            t.sequence = static_cast<uint16_t>(rng_());
        }
    }

    void Run() {
        net::SetNonBlocking(fd_);
        last_heard_ = Clock::now();
        while (!stopping_ && !closing_) {
            if (playing_) Produce();
            unsigned events = Pending() < kMaxPending ? net::kReadable : 0;
            if (Pending() > 0) events |= net::kWritable;
            int timeout = 200;
            if (playing_ && Pending() < kHighWater) {
                double wait = SecondsUntilDue();
                if (wait >= 0) timeout = std::clamp(static_cast<int>(wait * 1000), 0, 100);
            }
            int ready = net::Wait(fd_, events, timeout);
            if (ready < 0) break;
            if (ready & net::kReadable) {
                if (!Receive()) break;
            }
            if (Pending() > 0 && !Flush()) break;
            if (close_after_flush_ && Pending() == 0) break;
            // Playing counts as activity; the silence is measured from its end.
            auto now = Clock::now();
            if (playing_) last_heard_ = now;
            if (options_.idle_timeout.count() > 0 && now - last_heard_ >= options_.idle_timeout) {
                Log("closing: silent for %.1f s",
                    std::chrono::duration<double>(now - last_heard_).count());
                break;
            }
        }
        if (video_file_) std::fclose(video_file_);
        if (audio_file_) std::fclose(audio_file_);
        net::Close(fd_);
    }

  private:
    struct Track {
        bool setup = false;
        int channel = 0;
        uint32_t ssrc = 0;
        uint16_t sequence = 0;
    };
    enum { kVideo = 0, kAudio = 1, kApplication = 2 };

    void Log(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (!options_.verbose) return;
        char text[1024];
        int n = std::snprintf(text, sizeof text, "rtspserve: [%llu] ",
                              static_cast<unsigned long long>(id_));
        va_list args;
        va_start(args, format);
        std::vsnprintf(text + n, sizeof text - n, format, args);
        va_end(args);
        LogLine(text);
    }

    size_t Pending() const { return out_.size() - out_pos_; }

    bool Flush() {
        while (Pending() > 0) {
            std::ptrdiff_t n = net::Send(fd_, out_.data() + out_pos_, Pending());
            if (n == net::kNoData) break;
            if (n <= 0) return false;
            out_pos_ += static_cast<size_t>(n);
        }
        if (out_pos_ == out_.size()) {
            out_.clear();
            out_pos_ = 0;
        } else if (out_pos_ > kHighWater) {
            out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(out_pos_));
            out_pos_ = 0;
        }
        return true;
    }

    bool Receive() {
        uint8_t chunk[16384];
        std::ptrdiff_t n = net::Receive(fd_, chunk, sizeof chunk);
        if (n == net::kNoData) return true;
        if (n <= 0) return false;
        last_heard_ = Clock::now();
        in_.insert(in_.end(), chunk, chunk + n);
        if (in_.size() > kMaxInput) return false;
        size_t start = 0;
        while (start < in_.size()) {
            rtsp::ParseResult r = rtsp::ParseNext(in_.data() + start, in_.size() - start);
            if (r.kind == rtsp::ParseKind::kError) return false;
            start += r.consumed;
            if (r.kind == rtsp::ParseKind::kMessage && !r.message.is_reply) Handle(r.message);
            if (r.kind == rtsp::ParseKind::kNeedMore) break;
            // Interleaved packets from the client (receiver reports) are not needed.
        }
        in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(start));
        return true;
    }

    void Reply(const rtsp::Message& request, int code, const char* reason,
               const std::string& headers, const std::string& body = {}) {
        std::string text = "RTSP/1.0 " + std::to_string(code) + " " + reason + "\r\n";
        if (const std::string* cseq = request.Header("CSeq")) text += "CSeq: " + *cseq + "\r\n";
        text += "Server: rtspserve\r\n" + headers;
        if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        text += "\r\n" + body;
        out_.insert(out_.end(), text.begin(), text.end());
        Log("%s %s -> %d", request.method.c_str(), request.uri.c_str(), code);
    }

    // The time-out tells the client how often to show it is still there.
    std::string SessionHeader() const {
        long long ms = options_.idle_timeout.count();
        long long seconds = ms > 0 ? std::max(1LL, ms / 1000) : 60;
        return "Session: " + session_id_ + ";timeout=" + std::to_string(seconds) + "\r\n";
    }

    void Handle(const rtsp::Message& request) {
        const std::string& method = request.method;
        if (method == "OPTIONS") {
            Reply(request, 200, "OK",
                  "Public: OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN, GET_PARAMETER\r\n");
        } else if (method == "DESCRIBE") {
            if (options_.faults.describe_404) return Reply(request, 404, "Not Found", "");
            std::string base = request.uri;
            if (base.empty() || base.back() != '/') base += '/';
            Reply(request, 200, "OK",
                  "Content-Base: " + base + "\r\nContent-Type: application/sdp\r\n",
                  server_.Describe(base));
        } else if (method == "SETUP") {
            HandleSetup(request);
        } else if (method == "PLAY") {
            if (!CheckSession(request)) return;
            HandlePlay(request);
        } else if (method == "PAUSE") {
            if (!CheckSession(request)) return;
            playing_ = false;
            Reply(request, 200, "OK", SessionHeader());
        } else if (method == "TEARDOWN") {
            playing_ = false;
            Reply(request, 200, "OK", SessionHeader());
            close_after_flush_ = true;
        } else if (method == "GET_PARAMETER" || method == "SET_PARAMETER") {
            Reply(request, 200, "OK", SessionHeader());
        } else {
            Reply(request, 501, "Not Implemented", "");
        }
    }

    bool CheckSession(const rtsp::Message& request) {
        const std::string* session = request.Header("Session");
        if (session && session->substr(0, session->find(';')) == session_id_) return true;
        Reply(request, 454, "Session Not Found", "");
        return false;
    }

    void HandleSetup(const rtsp::Message& request) {
        int track = -1;
        if (EndsWith(request.uri, "trackID=1") && !options_.audio_only) track = kVideo;
        if (EndsWith(request.uri, "trackID=2") && server_.Audio()) track = kAudio;
        if (EndsWith(request.uri, "trackID=3") && options_.faults.application_media)
            track = kApplication;
        if (track < 0) return Reply(request, 404, "Not Found", "");
        if (const std::string* session = request.Header("Session")) {
            if (session->substr(0, session->find(';')) != session_id_)
                return Reply(request, 454, "Session Not Found", "");
        }
        const std::string* transport = request.Header("Transport");
        if (!transport || transport->find("RTP/AVP/TCP") == std::string::npos)
            return Reply(request, 461, "Unsupported Transport", "");
        int channel = 2 * track;
        size_t at = transport->find("interleaved=");
        if (at != std::string::npos) channel = std::atoi(transport->c_str() + at + 12) & 0xFE;
        tracks_[track].setup = true;
        tracks_[track].channel = channel;
        char text[128];
        std::snprintf(text, sizeof text,
                      "Transport: RTP/AVP/TCP;unicast;interleaved=%d-%d;ssrc=%08X\r\n", channel,
                      channel + 1, tracks_[track].ssrc);
        Reply(request, 200, "OK", std::string(text) + SessionHeader());
    }

    double PictureTime(size_t i) const {
        return static_cast<double>(i) / server_.Video().frame_rate;
    }
    double AudioTime(size_t j) const {
        const Mp3Index& a = *server_.Audio();
        return static_cast<double>(j) * a.samples_per_frame / a.sample_rate;
    }
    size_t PictureCount() const { return server_.Video().pictures.size(); }
    size_t AudioCount() const { return server_.Audio() ? server_.Audio()->frames.size() : 0; }
    uint32_t Timestamp(double seconds) const {
        return ts_base_ + static_cast<uint32_t>(std::llround(seconds * kClock));
    }

    // Opens the files of the tracks set up, when not open yet. A connection holds no file
    // until it plays, so idle clients cost one descriptor each.
    bool OpenFiles() {
        auto open = [this](std::FILE*& file, const std::string& path) {
            if (file) return true;
            file = std::fopen(path.c_str(), "rb");
            if (!file) Log("cannot open %s: %s", path.c_str(), std::strerror(errno));
            return file != nullptr;
        };
        bool ok = true;
        if (tracks_[kVideo].setup) ok = open(video_file_, options_.video_path);
        if (ok && tracks_[kAudio].setup) ok = open(audio_file_, options_.audio_path);
        return ok;
    }

    void HandlePlay(const rtsp::Message& request) {
        // An end past the stream is its end (a client asking for more gets all there is,
        // and the reply's Range says so); a range nothing can be sent for (malformed, not
        // a number, negative, a start past the end or after the stop) is refused, the
        // session unchanged.
        const double duration = server_.DurationSeconds();
        double start = -1, stop = -1;
        if (const std::string* header = request.Header("Range")) {
            std::optional<NptRange> range = ParseRange(*header);
            if (!range || (range->start && *range->start > duration) ||
                (range->start && range->stop && *range->stop < *range->start))
                return Reply(request, 457, "Invalid Range", SessionHeader());
            if (range->start) start = *range->start;
            if (range->stop) stop = std::min(*range->stop, duration);
        }
        if (!OpenFiles()) return Reply(request, 503, "Service Unavailable", SessionHeader());
        const bool video = tracks_[kVideo].setup, audio = tracks_[kAudio].setup;
        if (start >= 0 && video) {
            size_t picture = std::min(static_cast<size_t>(start * server_.Video().frame_rate),
                                      PictureCount() - 1);
            while (picture > 0 && !server_.Video().pictures[picture].random_access) --picture;
            next_picture_ = picture;
            double t = PictureTime(picture);
            next_audio_ = server_.Audio() ? static_cast<size_t>(t / AudioTime(1)) : 0;
        } else if (start >= 0 && audio) {
            next_audio_ = std::min(static_cast<size_t>(start / AudioTime(1)), AudioCount());
        }
        // Only the tracks the client set up are sent.
        end_picture_ = video ? PictureCount() : next_picture_;
        end_audio_ = audio ? AudioCount() : next_audio_;
        if (stop > 0) {
            if (video)
                end_picture_ =
                    std::min(end_picture_,
                             static_cast<size_t>(std::ceil(stop * server_.Video().frame_rate)));
            if (audio)
                end_audio_ =
                    std::min(end_audio_, static_cast<size_t>(std::ceil(stop / AudioTime(1))));
        }
        npt_start_ = NextTime();
        if (npt_start_ < 0) npt_start_ = PictureTime(std::min(next_picture_, PictureCount()));
        wall_start_ = Clock::now();
        // The first sender report goes out with the first packets, so that a receiver
        // can place the stream on the wall clock from the start.
        last_report_ = wall_start_ - std::chrono::seconds(6);
        playing_ = true;

        char text[512];
        std::string headers;
        std::snprintf(text, sizeof text, "Range: npt=%.3f-%.3f\r\n", npt_start_,
                      stop > 0 ? stop : duration);
        headers += text;
        std::string base = request.uri;
        if (!base.empty() && base.back() != '/') base += '/';
        std::string info = "RTP-Info: ";
        bool first = true;
        for (int t = kVideo; t <= kAudio; ++t) {
            if (!tracks_[t].setup) continue;
            std::snprintf(text, sizeof text, "%surl=%strackID=%d;seq=%u;rtptime=%u",
                          first ? "" : ",", base.c_str(), t + 1, tracks_[t].sequence,
                          Timestamp(npt_start_));
            info += text;
            first = false;
        }
        if (!first) headers += info + "\r\n";
        Reply(request, 200, "OK", headers + SessionHeader());
    }

    // Time of the next item to send; negative when nothing is left.
    double NextTime() const {
        double t = -1;
        if (next_picture_ < end_picture_) t = PictureTime(next_picture_);
        if (next_audio_ < end_audio_) {
            double a = AudioTime(next_audio_);
            if (t < 0 || a < t) t = a;
        }
        return t;
    }

    double SecondsUntilDue() const {
        double next = NextTime();
        if (next < 0) return -1;
        if (!options_.paced) return 0;
        double elapsed = std::chrono::duration<double>(Clock::now() - wall_start_).count();
        return std::max(0.0, WallDue(next) - elapsed);
    }

    // Seconds after the PLAY at which what falls due at stream time `next` is sent.
    double WallDue(double next) const {
        const Faults& f = options_.faults;
        double due = next - npt_start_;
        if (f.stall_seconds > 0 && next >= f.stall_at && next < f.stall_at + f.stall_seconds)
            due = f.stall_at + f.stall_seconds - npt_start_;
        if (f.jitter_ms > 0) {
            const double burst = f.jitter_ms / 1000.0;
            due = std::ceil(due / burst) * burst;
        }
        return due;
    }

    void AppendRtp(int track, bool marker, uint8_t payload_type, uint32_t timestamp,
                   const uint8_t* head, size_t head_length, const uint8_t* payload, size_t length) {
        Track& t = tracks_[track];
        size_t size = 12 + head_length + length;
        uint8_t h[16] = {'$',
                         static_cast<uint8_t>(t.channel),
                         static_cast<uint8_t>(size >> 8),
                         static_cast<uint8_t>(size),
                         0x80,
                         static_cast<uint8_t>((marker ? 0x80 : 0) | payload_type),
                         static_cast<uint8_t>(t.sequence >> 8),
                         static_cast<uint8_t>(t.sequence),
                         static_cast<uint8_t>(timestamp >> 24),
                         static_cast<uint8_t>(timestamp >> 16),
                         static_cast<uint8_t>(timestamp >> 8),
                         static_cast<uint8_t>(timestamp),
                         static_cast<uint8_t>(t.ssrc >> 24),
                         static_cast<uint8_t>(t.ssrc >> 16),
                         static_cast<uint8_t>(t.ssrc >> 8),
                         static_cast<uint8_t>(t.ssrc)};
        ++t.sequence;
        out_.insert(out_.end(), h, h + 16);
        out_.insert(out_.end(), head, head + head_length);
        out_.insert(out_.end(), payload, payload + length);
        AfterPacket();
    }

    void AfterPacket() {
        ++packets_;
        const Faults& f = options_.faults;
        if (f.garbage_every && packets_ % f.garbage_every == 0) {
            size_t length = 1 + rng_() % 600;
            // Alternate between the video channel and one nobody asked for.
            uint8_t channel = (packets_ / f.garbage_every) % 2
                                  ? static_cast<uint8_t>(tracks_[kVideo].channel)
                                  : 40;
            uint8_t h[4] = {'$', channel, static_cast<uint8_t>(length >> 8),
                            static_cast<uint8_t>(length)};
            out_.insert(out_.end(), h, h + 4);
            for (size_t i = 0; i < length; ++i) out_.push_back(static_cast<uint8_t>(rng_()));
        }
        if (f.close_after_packets && packets_ >= f.close_after_packets) {
            Log("closing the connection after %llu packets",
                static_cast<unsigned long long>(packets_));
            playing_ = false;
            close_after_flush_ = true;
        }
    }

    void SendReport() {
        // A sender report on the video track's odd channel, as servers do.
        Track& t = tracks_[kVideo];
        if (!t.setup) return;
        uint32_t rtp = Timestamp(NextTime() < 0 ? 0 : NextTime());
        uint8_t sr[32] = {'$',
                          static_cast<uint8_t>(t.channel + 1),
                          0,
                          28,
                          0x80,
                          200,
                          0,
                          6,
                          static_cast<uint8_t>(t.ssrc >> 24),
                          static_cast<uint8_t>(t.ssrc >> 16),
                          static_cast<uint8_t>(t.ssrc >> 8),
                          static_cast<uint8_t>(t.ssrc)};
        // The wall-clock time of the report (NTP: seconds since 1900 and a 32-bit
        // fraction): receivers pair it with the RTP time to line media up.
        const auto since_1970 = std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
        const uint64_t seconds = static_cast<uint64_t>(since_1970 / 1000000) + 2208988800u;
        const uint64_t fraction = (static_cast<uint64_t>(since_1970 % 1000000) << 32) / 1000000;
        for (int i = 0; i < 4; ++i) {
            sr[12 + i] = static_cast<uint8_t>(seconds >> (24 - 8 * i));
            sr[16 + i] = static_cast<uint8_t>(fraction >> (24 - 8 * i));
        }
        sr[20] = static_cast<uint8_t>(rtp >> 24);
        sr[21] = static_cast<uint8_t>(rtp >> 16);
        sr[22] = static_cast<uint8_t>(rtp >> 8);
        sr[23] = static_cast<uint8_t>(rtp);
        out_.insert(out_.end(), sr, sr + 32);
    }

    void SendBye() {
        // RTCP BYE on each track's odd channel tells the client the stream ended.
        for (int track = kVideo; track <= kAudio; ++track) {
            const Track& t = tracks_[track];
            if (!t.setup) continue;
            uint8_t bye[12] = {'$',
                               static_cast<uint8_t>(t.channel + 1),
                               0,
                               8,
                               0x81,
                               203,
                               0,
                               1,
                               static_cast<uint8_t>(t.ssrc >> 24),
                               static_cast<uint8_t>(t.ssrc >> 16),
                               static_cast<uint8_t>(t.ssrc >> 8),
                               static_cast<uint8_t>(t.ssrc)};
            out_.insert(out_.end(), bye, bye + 12);
        }
    }

    void Produce() {
        while (playing_ && Pending() < kHighWater) {
            double next = NextTime();
            if (next < 0) {
                Log("end of stream");
                SendBye();
                playing_ = false;
                return;
            }
            if (options_.paced && SecondsUntilDue() > 0) return;
            auto now = Clock::now();
            if (now - last_report_ > std::chrono::seconds(5)) {
                last_report_ = now;
                SendReport();
            }
            // Decided on what is left, not by comparing times for equality: a 32-bit x86
            // build keeps one side in an extended-precision register and then sends a
            // picture past the end.
            const bool video_left = next_picture_ < end_picture_;
            const bool audio_first =
                next_audio_ < end_audio_ &&
                (!video_left || AudioTime(next_audio_) <= PictureTime(next_picture_));
            if (audio_first)
                SendAudioFrame(next_audio_++);
            else
                SendPicture(next_picture_++);
        }
    }

    bool ReadAt(std::FILE* file, uint64_t offset, uint32_t length, uint64_t& position) {
        buffer_.resize(length);
        if (!file) return false;
        // Pictures and frames are mostly read in file order: seek only when not.
        if (position != offset && !avs::files::Seek(file, static_cast<int64_t>(offset), SEEK_SET))
            return false;
        bool ok = std::fread(buffer_.data(), 1, length, file) == length;
        position = ok ? offset + length : UINT64_MAX;
        return ok;
    }

    void SendPicture(size_t i) {
        if (!tracks_[kVideo].setup) return;
        const PictureEntry& p = server_.Video().pictures[i];
        if (!ReadAt(video_file_, p.offset, p.length, video_position_)) {
            Log("cannot read picture %lu", static_cast<unsigned long>(i));
            return;
        }
        uint32_t ts = Timestamp(PictureTime(i));
        PacketizePicture(buffer_.data(), buffer_.size(), options_.max_payload,
                         [&](const uint8_t* payload, size_t length, bool last) {
                             if (!close_after_flush_)
                                 AppendRtp(kVideo, last, kVideoPayloadType, ts, nullptr, 0, payload,
                                           length);
                         });
    }

    void SendAudioFrame(size_t j) {
        if (!tracks_[kAudio].setup) return;
        const AudioFrameEntry& f = server_.Audio()->frames[j];
        if (!ReadAt(audio_file_, f.offset, f.length, audio_position_)) {
            Log("cannot read audio frame %lu", static_cast<unsigned long>(j));
            return;
        }
        static const uint8_t kAudioHeader[4] = {0, 0, 0, 0};  // no fragment offset
        AppendRtp(kAudio, true, kAudioPayloadType, Timestamp(AudioTime(j)), kAudioHeader, 4,
                  buffer_.data(), buffer_.size());
    }

    const Server& server_;
    const ServerOptions& options_;
    const net::Socket fd_;
    const uint64_t id_;
    const std::atomic<bool>& stopping_;
    std::mt19937 rng_;
    std::string session_id_;
    uint32_t ts_base_ = 0;
    Track tracks_[3];
    std::FILE* video_file_ = nullptr;
    std::FILE* audio_file_ = nullptr;
    Clock::time_point last_heard_;          // the last bytes from the client, or the last play
    uint64_t video_position_ = UINT64_MAX;  // where the next read would start
    uint64_t audio_position_ = UINT64_MAX;
    std::vector<char> video_stdio_, audio_stdio_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
    size_t out_pos_ = 0;
    std::vector<uint8_t> buffer_;
    bool playing_ = false;
    bool closing_ = false;
    bool close_after_flush_ = false;
    size_t next_picture_ = 0, end_picture_ = 0;
    size_t next_audio_ = 0, end_audio_ = 0;
    double npt_start_ = 0;
    Clock::time_point wall_start_, last_report_;
    uint64_t packets_ = 0;
};

}  // namespace

std::unique_ptr<Server> Server::Create(const ServerOptions& options, std::string* error) {
    if (options.audio_only && options.audio_path.empty()) {
        if (error) *error = "audio only needs an MP3 file";
        return nullptr;
    }
    std::optional<AvsIndex> video = IndexAvsFile(options.video_path, error);
    if (!video) return nullptr;
    std::optional<Mp3Index> audio;
    if (!options.audio_path.empty()) {
        audio = IndexMp3File(options.audio_path, error);
        if (!audio) return nullptr;
    }
    // Room for a burst of clients: beyond the backlog the system drops connection attempts
    // unanswered (they are tried again a second later) before they can be served or refused.
    net::Socket fd = net::ListenTcp(options.bind_address, options.port, 128, error);
    if (fd == net::kInvalidSocket) return nullptr;
    uint16_t port = net::LocalPort(fd);
    return std::unique_ptr<Server>(
        new Server(options, std::move(*video), std::move(audio), fd, port));
}

Server::Server(const ServerOptions& options, AvsIndex video, std::optional<Mp3Index> audio,
               net::Socket fd, uint16_t port)
    : options_(options),
      video_(std::move(video)),
      audio_(std::move(audio)),
      listen_fd_(fd),
      port_(port) {}

Server::~Server() {
    Stop();
    net::Close(listen_fd_);
}

double Server::DurationSeconds() const {
    if (options_.audio_only && audio_ && audio_->sample_rate > 0)
        return static_cast<double>(audio_->frames.size()) * audio_->samples_per_frame /
               audio_->sample_rate;
    return static_cast<double>(video_.pictures.size()) / video_.frame_rate;
}

std::string Server::Describe(const std::string& /*base*/) const {
    char text[256];
    std::string sdp = "v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\ns=rtspserve\r\nt=0 0\r\n";
    if (!options_.faults.no_session_control) sdp += "a=control:*\r\n";
    std::snprintf(text, sizeof text, "a=range:npt=0-%.3f\r\n", DurationSeconds());
    sdp += text;
    if (!options_.audio_only) {
        sdp += "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:96 AVS1-P2/90000\r\n";
        sdp += "a=fmtp:96 sprop-parameter-sets=" + Base64(video_.sequence_header) + "\r\n";
        sdp += "a=control:trackID=1\r\n";
    }
    if (audio_)
        sdp +=
            "m=audio 0 RTP/AVP 14\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:14 "
            "MPA/90000\r\na=control:trackID=2\r\n";
    if (options_.faults.application_media)
        sdp +=
            "m=application 0 RTP/AVP 107\r\na=rtpmap:107 "
            "vnd.onvif.metadata/90000\r\na=control:trackID=3\r\n";
    return sdp;
}

void Server::Start() {
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

void Server::Stop() {
    stopping_ = true;
    net::Shutdown(listen_fd_);
    if (acceptor_.joinable()) acceptor_.join();
    std::lock_guard lock(connections_mutex_);
    for (Worker& w : connections_)
        if (w.thread.joinable()) w.thread.join();
    connections_.clear();
}

namespace {

// Tells a client it cannot be served, without a thread and without waiting on it.
void Refuse(net::Socket fd) {
    net::SetNonBlocking(fd);
    // What the client already sent is read first: closing with unread bytes resets the
    // connection, and the client could lose the answer. Its CSeq is answered when known.
    std::vector<uint8_t> in;
    uint8_t chunk[4096];
    std::ptrdiff_t n;
    while (in.size() < 16 * sizeof chunk && (n = net::Receive(fd, chunk, sizeof chunk)) > 0)
        in.insert(in.end(), chunk, chunk + n);
    std::string text = "RTSP/1.0 503 Service Unavailable\r\n";
    rtsp::ParseResult r = rtsp::ParseNext(in.data(), in.size());
    if (r.kind == rtsp::ParseKind::kMessage && !r.message.is_reply)
        if (const std::string* cseq = r.message.Header("CSeq")) text += "CSeq: " + *cseq + "\r\n";
    text += "Server: rtspserve\r\nContent-Length: 0\r\n\r\n";
    net::Send(fd, text.data(), text.size());
    net::Shutdown(fd);
    net::Close(fd);
}

}  // namespace

void Server::AcceptLoop() {
    uint64_t next_id = 1;
    // A descriptor held in reserve: when there are none left, it is let go for a moment
    // so that a waiting client can still be told no instead of waiting in the backlog.
    std::FILE* reserve = nullptr;
    auto log = [this](uint64_t id, const std::string& text) {
        if (options_.verbose) LogLine("rtspserve: [" + std::to_string(id) + "] " + text);
    };
    std::chrono::milliseconds backoff{0};
    while (!stopping_) {
        if (!reserve) reserve = std::fopen(options_.video_path.c_str(), "rb");
        if (net::WaitReadable(listen_fd_, 200) <= 0) continue;
        net::Socket fd = net::Accept(listen_fd_);
        if (fd == net::kInvalidSocket) {
            // Mostly out of descriptors. The listener stays readable, so waiting on it
            // again would spin: refuse one client with the reserve, or wait a while.
            std::string reason = net::LastErrorText();
            if (backoff.count() == 0) log(next_id, "cannot accept a connection: " + reason);
            if (reserve) {
                std::fclose(reserve);
                reserve = nullptr;
                fd = net::Accept(listen_fd_);
                if (fd != net::kInvalidSocket) {
                    log(next_id++, "refused: no descriptor left");
                    Refuse(fd);
                    backoff = std::chrono::milliseconds(1);
                    continue;
                }
            }
            backoff = std::clamp(backoff * 2, std::chrono::milliseconds(10),
                                 std::chrono::milliseconds(500));
            std::this_thread::sleep_for(backoff);
            continue;
        }
        backoff = std::chrono::milliseconds(0);
        net::SetNoDelay(fd);
        uint64_t id = next_id++;
        std::lock_guard lock(connections_mutex_);
        // Finished connections are joined here so their threads do not pile up.
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (it->done->load()) {
                it->thread.join();
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
        if (connections_.size() >= options_.max_connections) {
            log(id, "refused: " + std::to_string(connections_.size()) + " connections open");
            Refuse(fd);
            continue;
        }
        log(id, "connected");
        auto done = std::make_shared<std::atomic<bool>>(false);
        connections_.push_back({std::thread([this, fd, id, done] {
                                    ServeConnection(fd, id);
                                    done->store(true);
                                }),
                                done});
    }
    if (reserve) std::fclose(reserve);
}

void Server::ServeConnection(net::Socket fd, uint64_t id) {
    Connection connection(*this, options_, fd, id, stopping_);
    connection.Run();
    if (options_.verbose) LogLine("rtspserve: [" + std::to_string(id) + "] closed");
}

}  // namespace rtspserve
