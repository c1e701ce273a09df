// tallowmere_bench [COPIES]: streams the sample AVS file repeated COPIES times
// (default 300) from rtspserve, as fast as the client reads, through
// Tallowmere into a capture renderer with no clock, and sends the same bytes
// over a raw loopback TCP connection; prints pictures/s, MB/s and the ratio.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

std::string MakeInput(int copies) {
    std::string source = std::string(AVS_TEST_DATA_DIR) + "/xavs_cif352x288_25fps_IBP_100f.avs";
    std::FILE* in = std::fopen(source.c_str(), "rb");
    std::vector<char> bytes(1 << 20);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    std::string path = "/tmp/tallowmere_bench_" + std::to_string(getpid()) + ".avs";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    for (int i = 0; i < copies; ++i) std::fwrite(bytes.data(), 1, bytes.size(), out);
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

}  // namespace

int main(int argc, char** argv) {
    int copies = argc > 1 ? std::atoi(argv[1]) : 300;
    if (copies < 1) {
        std::fprintf(stderr, "usage: tallowmere_bench [COPIES]\n");
        return 2;
    }
    std::string input = MakeInput(copies);
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
        return 1;
    }
    server->Start();
    size_t pictures = server->video().pictures.size();
    uint64_t stream_bytes = 0;
    for (const auto& p : server->video().pictures) stream_bytes += p.length;

    std::atomic<uint64_t> samples{0}, bytes{0};
    std::atomic<bool> ended{false};
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
            return 1;
        }
        ComPtr<IBaseFilter> renderer;
        avs::dshow::CreateCaptureRenderer(
            [&](const avs::dshow::CaptureEvent& e) {
                if (e.kind == avs::dshow::CaptureEvent::Kind::kSample) {
                    ++samples;
                    bytes += static_cast<uint64_t>(e.actual_length);
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
        auto begun = Clock::now();
        control->Run();
        while (!ended && Clock::now() - begun < std::chrono::seconds(120))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        seconds = std::chrono::duration<double>(Clock::now() - begun).count();
        control->Stop();
    }
    server->Stop();
    double loopback = LoopbackSeconds(stream_bytes);
    std::remove(input.c_str());

    double mb = static_cast<double>(bytes) / 1e6;
    double filter_rate = mb / seconds,
           loop_rate = static_cast<double>(stream_bytes) / 1e6 / loopback;
    std::printf("stream: %zu pictures, %.1f MB\n", pictures,
                static_cast<double>(stream_bytes) / 1e6);
    std::printf("Tallowmere: %llu samples (%s) in %.3f s: %.0f pictures/s, %.1f MB/s\n",
                static_cast<unsigned long long>(samples.load()),
                ended ? "to the end of stream" : "no end of stream", seconds,
                static_cast<double>(samples) / seconds, filter_rate);
    std::printf("raw loopback TCP, same bytes: %.3f s, %.1f MB/s\n", loopback, loop_rate);
    std::printf("ratio Tallowmere / loopback: %.2f (target >= 0.33)\n", filter_rate / loop_rate);
    return ended ? 0 : 1;
}
