// A Tallowmere filter in a graph with a capture renderer on each pin, an
// rtspserve in this process, and a TCP relay that records the client's RTSP
// requests on their way to the server.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dshow/runtime.h"
#include "rtsp/message_parser.h"
#include "rtspstream/tallowmere.h"
#include "tests/rtspstream/test_media.h"
#include "tools/rtspserve/server.h"

namespace rtspstreamtest {

using namespace std::chrono_literals;
using avs::com::ComPtr;
using avs::dshow::CaptureEvent;
using Bytes = std::vector<uint8_t>;

struct Served {
    std::unique_ptr<rtspserve::Server> server;
    std::string base;  // rtsp://127.0.0.1:port
};

inline Served Serve(rtspserve::ServerOptions options) {
    options.bind_address = "127.0.0.1";
    options.port = 0;
    options.verbose = false;
    if (options.video_path.empty()) options.video_path = SampleAvs();
    std::string error;
    Served s;
    s.server = rtspserve::Server::Create(options, &error);
    if (!s.server) return s;
    s.server->Start();
    s.base = "rtsp://127.0.0.1:" + std::to_string(s.server->Port());
    return s;
}

// Relays every connection to the server and keeps the requests the client sent.
class RequestRecorder {
  public:
    struct Request {
        std::string method;
        std::string range;  // the Range header, empty when none
    };

    explicit RequestRecorder(uint16_t server_port) : server_port_(server_port) {
        listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listen_fd_, 16);
        socklen_t len = sizeof addr;
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~RequestRecorder() {
        stop_ = true;
        acceptor_.join();
        for (auto& t : relays_) t.join();
        close(listen_fd_);
    }
    std::string Base() const { return "rtsp://127.0.0.1:" + std::to_string(port_); }
    std::vector<Request> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::vector<std::string> Methods() {
        std::vector<std::string> out;
        for (auto& r : Requests())
            if (r.method != "OPTIONS" && r.method != "GET_PARAMETER") out.push_back(r.method);
        return out;
    }
    int Connections() const { return connections_.load(); }

  private:
    void Accept() {
        while (!stop_) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (poll(&p, 1, 50) != 1) continue;
            int client = accept(listen_fd_, nullptr, nullptr);
            if (client < 0) continue;
            ++connections_;
            int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(server_port_);
            connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
            relays_.emplace_back([this, client, server] { Relay(client, server); });
        }
    }
    void Relay(int client, int server) {
        std::vector<uint8_t> pending;
        uint8_t buffer[65536];
        bool open = true;
        while (open && !stop_) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (poll(p, 2, 50) <= 0) continue;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                ssize_t n = recv(p[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                if (i == 0) Record(pending, buffer, static_cast<size_t>(n));
                int to = i == 0 ? server : client;
                for (ssize_t sent = 0; sent < n;) {
                    ssize_t m =
                        send(to, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
                    if (m <= 0) {
                        open = false;
                        break;
                    }
                    sent += m;
                }
            }
        }
        close(client);
        close(server);
    }
    void Record(std::vector<uint8_t>& pending, const uint8_t* data, size_t n) {
        pending.insert(pending.end(), data, data + n);
        size_t start = 0;
        while (start < pending.size()) {
            rtsp::ParseResult r = rtsp::ParseNext(pending.data() + start, pending.size() - start);
            if (r.kind == rtsp::ParseKind::kNeedMore || r.kind == rtsp::ParseKind::kError) break;
            start += r.consumed;
            if (r.kind == rtsp::ParseKind::kMessage && !r.message.is_reply) {
                const std::string* range = r.message.Header("Range");
                std::lock_guard lock(mutex_);
                requests_.push_back({r.message.method, range ? *range : std::string()});
            }
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(start));
    }

    uint16_t server_port_;
    uint16_t port_ = 0;
    int listen_fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::vector<std::thread> relays_;
    std::mutex mutex_;
    std::vector<Request> requests_;
};

// What one capture renderer saw, with the sample bytes copied.
struct Seen {
    CaptureEvent::Kind kind;
    Bytes bytes;
    bool has_time, has_stop, sync, discontinuity;
    int64_t start, stop, segment_start, segment_stop;
    std::chrono::steady_clock::time_point at{};  // when the renderer got it
};

class Capture {
  public:
    avs::dshow::CaptureCallback Callback() {
        return [this](const CaptureEvent& e) {
            Seen s{e.kind,          {},      e.has_time, e.has_stop,      e.sync_point,
                   e.discontinuity, e.start, e.stop,     e.segment_start, e.segment_stop};
            if (e.kind == CaptureEvent::Kind::kSample && e.data)
                s.bytes.assign(e.data, e.data + e.actual_length);
            s.at = std::chrono::steady_clock::now();
            std::lock_guard lock(mutex_);
            seen_.push_back(std::move(s));
            changed_.notify_all();
        };
    }
    std::vector<Seen> Snapshot() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    template <typename Pred>
    bool WaitFor(Pred pred, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return pred(seen_); });
    }
    size_t Samples() {
        size_t n = 0;
        for (auto& s : Snapshot())
            if (s.kind == CaptureEvent::Kind::kSample) ++n;
        return n;
    }
    bool WaitSamples(size_t n, std::chrono::milliseconds timeout) {
        return WaitFor(
            [n](const std::vector<Seen>& v) {
                size_t k = 0;
                for (auto& s : v) k += s.kind == CaptureEvent::Kind::kSample;
                return k >= n;
            },
            timeout);
    }
    bool WaitEnd(std::chrono::milliseconds timeout) {
        return WaitFor(
            [](const std::vector<Seen>& v) {
                return !v.empty() && v.back().kind == CaptureEvent::Kind::kEndOfStream;
            },
            timeout);
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Seen> seen_;
};

// Tallowmere with a capture renderer per pin in one graph.
struct Player {
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source;
    rtspstream::CTallowmere* filter = nullptr;
    Capture video, audio;
    ComPtr<IBaseFilter> video_renderer, audio_renderer;

    Player() {
        avs::dshow::CreateFilterGraph(graph.Put());
        HRESULT hr = S_OK;
        CUnknown* object = rtspstream::CTallowmere::CreateInstance(nullptr, &hr);
        object->NonDelegatingQueryInterface(IID_IBaseFilter, source.PutVoid());
        filter = static_cast<rtspstream::CTallowmere*>(object);
        rtsp::ClientConfig config;
        config.reply_timeout = 3s;
        config.connect_timeout = 2s;
        filter->SetClientConfig(config);
        graph->AddFilter(source.Get(), L"Tallowmere");
    }
    ~Player() {
        if (auto control = Control()) control->Stop();
    }
    HRESULT Load(const std::string& url) {
        std::wstring wide(url.begin(), url.end());
        auto file = source.As<IFileSourceFilter>(IID_IFileSourceFilter);
        return file->Load(wide.c_str(), nullptr);
    }
    // Connects a capture renderer to each pin the filter has.
    void Render() {
        for (auto& pin : avs::dshow::FilterPins(source.Get())) {
            PIN_INFO info{};
            pin->QueryPinInfo(&info);
            if (info.pFilter) info.pFilter->Release();
            bool is_video = std::wstring(info.achName) == L"Video";
            ComPtr<IBaseFilter>& renderer = is_video ? video_renderer : audio_renderer;
            avs::dshow::CreateCaptureRenderer((is_video ? video : audio).Callback(),
                                              renderer.Put());
            graph->AddFilter(renderer.Get(), is_video ? L"video out" : L"audio out");
            graph->Connect(pin.Get(), avs::dshow::FirstPin(renderer.Get(), PINDIR_INPUT).Get());
        }
    }
    ComPtr<IMediaControl> Control() { return graph.As<IMediaControl>(IID_IMediaControl); }
    ComPtr<IMediaSeeking> Seeking() { return graph.As<IMediaSeeking>(IID_IMediaSeeking); }
};

// The threads of this process.
inline int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') ++n;
        closedir(d);
    }
    return n;
}

}  // namespace rtspstreamtest
