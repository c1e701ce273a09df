// tallowmere_bench [COPIES [FILE FILE_COPIES]...]: for each case, streams an
// AVS file repeated some number of times from rtspserve, as fast as the client
// reads, through Tallowmere into a capture renderer with no clock, then sends
// the same bytes over a raw loopback TCP connection; prints pictures/s, MB/s
// and the ratio per case. The first case is the small-picture test stream
// (COPIES times, default 300); each FILE adds a case (e.g. a Harrowgate clip
// at 720p, whose pictures are tens of kB; run.sh makes one).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "dshow/runtime.h"
#include "rtspstream/tallowmere.h"
#include "tools/rtspserve/server.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
    std::string source;
    int copies = 1;
};

// The source repeated `copies` times in a temporary file, copied in pieces.
// Empty when the source cannot be read.
std::string MakeInput(const Case& c, int index) {
    std::string path =
        "/tmp/tallowmere_bench_" + std::to_string(getpid()) + "_" + std::to_string(index) + ".avs";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return {};
    std::vector<char> buffer(1 << 20);
    for (int i = 0; i < c.copies; ++i) {
        std::FILE* in = std::fopen(c.source.c_str(), "rb");
        if (!in) {
            std::fclose(out);
            std::remove(path.c_str());
            return {};
        }
        size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
            std::fwrite(buffer.data(), 1, n, out);
        std::fclose(in);
    }
    std::fclose(out);
    return path;
}

// Seconds to push `total` bytes through one 127.0.0.1 TCP connection, in
// writes of 64 KiB, read in 64 KiB pieces on the other side.
double LoopbackSeconds(uint64_t total) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener, 1);
    socklen_t len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    auto begun = Clock::now();
    std::thread reader([&] {
        int fd = accept(listener, nullptr, nullptr);
        std::vector<char> buffer(65536);
        uint64_t got = 0;
        while (got < total) {
            ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            got += static_cast<uint64_t>(n);
        }
        close(fd);
    });
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    std::vector<char> buffer(65536, 'x');
    for (uint64_t sent = 0; sent < total;) {
        ssize_t n = send(fd, buffer.data(), std::min<uint64_t>(buffer.size(), total - sent), 0);
        if (n <= 0) break;
        sent += static_cast<uint64_t>(n);
    }
    reader.join();
    double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
    close(fd);
    close(listener);
    return seconds;
}

// One case: returns false when the stream did not reach its end.
bool RunCase(const Case& c, int index_of_case) {
    std::string input = MakeInput(c, index_of_case);
    if (input.empty()) {
        std::fprintf(stderr, "tallowmere_bench: cannot read %s\n", c.source.c_str());
        return false;
    }
    rtspserve::ServerOptions options;
    options.video_path = input;
    options.bind_address = "127.0.0.1";
    options.port = 0;
    options.paced = false;
    options.verbose = false;
    std::string error;
    auto server = rtspserve::Server::Create(options, &error);
    if (!server) {
        std::fprintf(stderr, "tallowmere_bench: %s\n", error.c_str());
        std::remove(input.c_str());
        return false;
    }
    server->Start();
    size_t pictures = server->video().pictures.size();
    uint64_t stream_bytes = 0;
    for (const auto& p : server->video().pictures) stream_bytes += p.length;

    // Samples the renderer got: the header sample, then one per picture in order.
    // A picture the filter passes on empty (after rebuffering, until the next
    // intra picture) still went through its receive path: `through` counts it
    // at its picture's size, `bytes` only what the renderer received.
    std::atomic<uint64_t> samples{0}, bytes{0}, empty{0};
    std::atomic<bool> ended{false};
    std::atomic<int64_t> first_ns{-1}, last_ns{-1};  // sample times since Run
    auto begun = Clock::now();
    double seconds = 0;
    {
        using avs::com::ComPtr;
        ComPtr<IGraphBuilder> graph;
        avs::dshow::CreateFilterGraph(graph.Put());
        HRESULT hr = S_OK;
        CUnknown* object = rtspstream::CTallowmere::CreateInstance(nullptr, &hr);
        ComPtr<IBaseFilter> source;
        object->NonDelegatingQueryInterface(IID_IBaseFilter, source.PutVoid());
        graph->AddFilter(source.Get(), L"Tallowmere");
        std::string url = "rtsp://127.0.0.1:" + std::to_string(server->port()) + "/bench.asm";
        std::wstring wide(url.begin(), url.end());
        if (source.As<IFileSourceFilter>(IID_IFileSourceFilter)->Load(wide.c_str(), nullptr) !=
            S_OK) {
            std::fprintf(stderr, "tallowmere_bench: cannot load %s\n", url.c_str());
            std::remove(input.c_str());
            return false;
        }
        ComPtr<IBaseFilter> renderer;
        avs::dshow::CreateCaptureRenderer(
            [&](const avs::dshow::CaptureEvent& e) {
                if (e.kind == avs::dshow::CaptureEvent::Kind::kSample) {
                    ++samples;
                    bytes += static_cast<uint64_t>(e.actual_length);
                    if (e.actual_length == 0) ++empty;
                    int64_t now =
                        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begun)
                            .count();
                    int64_t none = -1;
                    first_ns.compare_exchange_strong(none, now);
                    last_ns = now;
                } else if (e.kind == avs::dshow::CaptureEvent::Kind::kEndOfStream) {
                    ended = true;
                }
            },
            renderer.Put());
        graph->AddFilter(renderer.Get(), L"capture");
        graph->Connect(avs::dshow::FirstPin(source.Get(), PINDIR_OUTPUT).Get(),
                       avs::dshow::FirstPin(renderer.Get(), PINDIR_INPUT).Get());
        graph.As<IMediaFilter>(IID_IMediaFilter)->SetSyncSource(nullptr);
        auto control = graph.As<IMediaControl>(IID_IMediaControl);
        begun = Clock::now();
        control->Run();
        while (!ended && Clock::now() - begun < std::chrono::seconds(120))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        seconds = std::chrono::duration<double>(Clock::now() - begun).count();
        control->Stop();
    }
    server->Stop();  // its index stays readable
    // The loopback rate varies from run to run on a shared machine: the median of three.
    double tries[3] = {LoopbackSeconds(stream_bytes), LoopbackSeconds(stream_bytes),
                       LoopbackSeconds(stream_bytes)};
    std::sort(tries, tries + 3);
    double loopback = tries[1];
    std::remove(input.c_str());

    uint64_t through = 0;
    const auto& index = server->video().pictures;
    for (size_t k = 0; k + 1 < samples && k < index.size(); ++k) through += index[k].length;
    double loop_rate = static_cast<double>(stream_bytes) / 1e6 / loopback;
    // Rates run from Run to the last sample: the end of stream comes only after the server
    // has been quiet for a while, a fixed wait that says nothing about throughput.
    const double data_seconds =
        last_ns.load() > 0 ? static_cast<double>(last_ns.load()) / 1e9 : seconds;
    double delivered_rate = static_cast<double>(bytes) / 1e6 / data_seconds;
    double through_rate = static_cast<double>(through) / 1e6 / data_seconds;
    std::printf("case %d: %s x%d: %zu pictures, %.1f MB, %.1f kB a picture\n", index_of_case,
                c.source.c_str(), c.copies, pictures, static_cast<double>(stream_bytes) / 1e6,
                pictures ? static_cast<double>(stream_bytes) / 1e3 / pictures : 0.0);
    std::printf("  Tallowmere: %llu samples (%s), %llu of them empty, in %.3f s: %.0f pictures/s\n",
                static_cast<unsigned long long>(samples.load()),
                ended ? "to the end of stream" : "no end of stream",
                static_cast<unsigned long long>(empty.load()), data_seconds,
                static_cast<double>(samples) / data_seconds);
    std::printf("  first sample %.1f ms after Run, last %.1f ms, end of stream %.1f ms\n",
                static_cast<double>(first_ns.load()) / 1e6,
                static_cast<double>(last_ns.load()) / 1e6, seconds * 1e3);
    std::printf("  through the filter %.1f MB/s; delivered to the renderer %.1f MB/s\n",
                through_rate, delivered_rate);
    std::printf("  raw loopback TCP, same bytes (median of 3): %.3f s, %.1f MB/s\n", loopback,
                loop_rate);
    std::printf("  ratio to loopback: through %.2f, delivered %.2f (target >= 0.33)\n",
                through_rate / loop_rate, delivered_rate / loop_rate);
    std::fflush(stdout);
    return ended;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Case> cases;
    cases.push_back({std::string(AVS_TEST_DATA_DIR) + "/xavs_cif352x288_25fps_IBP_100f.avs",
                     argc > 1 ? std::atoi(argv[1]) : 300});
    for (int i = 2; i + 1 < argc; i += 2) cases.push_back({argv[i], std::atoi(argv[i + 1])});
    bool usage = argc > 2 && argc % 2 != 0;
    for (const Case& c : cases) usage = usage || c.copies < 1;
    if (usage) {
        std::fprintf(stderr, "usage: tallowmere_bench [COPIES [FILE FILE_COPIES]...]\n");
        return 2;
    }
    bool all_ended = true;
    for (size_t i = 0; i < cases.size(); ++i)
        all_ended = RunCase(cases[i], static_cast<int>(i + 1)) && all_ended;
    return all_ended ? 0 : 1;
}
