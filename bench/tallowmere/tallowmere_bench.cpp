// tallowmere_bench [-r REPEATS] [COPIES [FILE FILE_COPIES]...]: for each case,
// streams an AVS file repeated some number of times from rtspserve, as fast as
// the client reads, through Tallowmere into a capture renderer with no clock
// that checks every sample against its picture, then sends the same bytes over
// a raw loopback TCP connection. Each case runs REPEATS times (default 3); a
// line per run with pictures/s, MB/s and the ratios, then the median ratios.
// The first case is the small-picture test stream (COPIES times, default 2000);
// each FILE adds a case (run.sh makes Harrowgate clips of tens of kB a picture).
// Exit code 1 when a run did not end or delivered a wrong sample.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// What one run of a case measured.
struct RunResult {
    bool ok = false;            // reached its end of stream and every sample was right
    bool ended = false;         // the renderer got its end of stream
    size_t pictures = 0;        // in the served stream
    uint64_t stream_bytes = 0;  // the pictures' bytes
    uint64_t samples = 0;       // the renderer got, the header sample included
    uint64_t empty = 0;         // of them empty
    uint64_t wrong = 0;         // of them not their picture byte for byte
    uint64_t tail = 0;          // samples that came after the server's quiet second
    double flow_seconds = 0;    // Run to the last sample before that wait
    double through_rate = 0;    // MB/s, every picture at its size
    double delivered_rate = 0;  // MB/s, the bytes the renderer received
    double loopback_rate = 0;   // MB/s, the same bytes over raw loopback TCP
};

// The input mapped read-only, so the renderer can check each sample against its picture.
class MappedFile {
  public:
    explicit MappedFile(const std::string& path) {
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) return;
        struct stat st {};
        if (fstat(fd, &st) == 0 && st.st_size > 0) {
            void* map =
                mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (map != MAP_FAILED) {
                bytes_ = static_cast<const uint8_t*>(map);
                size_ = static_cast<size_t>(st.st_size);
            }
        }
        close(fd);
    }
    ~MappedFile() {
        if (bytes_) munmap(const_cast<uint8_t*>(bytes_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    const uint8_t* Bytes() const { return bytes_; }

  private:
    const uint8_t* bytes_ = nullptr;
    size_t size_ = 0;
};

RunResult RunOnce(const std::string& input) {
    RunResult result;
    rtspserve::ServerOptions options;
    options.video_path = input;
    options.bind_address = "127.0.0.1";
    options.port = 0;
    options.paced = false;
    options.verbose = false;
    std::string error;
    auto server = rtspserve::Server::Create(options, &error);
    MappedFile source(input);
    if (!server || !source.Bytes()) {
        std::fprintf(stderr, "tallowmere_bench: %s\n",
                     server ? "cannot map the input" : error.c_str());
        return result;
    }
    server->Start();
    const auto& index = server->Video().pictures;
    result.pictures = index.size();
    for (const auto& p : index) result.stream_bytes += p.length;

    // Per sample (the header sample, then one per picture in order): when it came and how
    // long it was. Only the graph's one streaming thread writes them.
    std::vector<int64_t> times(index.size() + 1, 0);
    std::vector<uint32_t> lengths(index.size() + 1, 0);
    std::atomic<uint64_t> samples{0}, wrong{0};
    std::atomic<bool> ended{false};
    auto begun = Clock::now();
    {
        using avs::com::ComPtr;
        ComPtr<IGraphBuilder> graph;
        avs::dshow::CreateFilterGraph(graph.Put());
        HRESULT hr = S_OK;
        CUnknown* object = rtspstream::CTallowmere::CreateInstance(nullptr, &hr);
        ComPtr<IBaseFilter> filter;
        object->NonDelegatingQueryInterface(IID_IBaseFilter, filter.PutVoid());
        graph->AddFilter(filter.Get(), L"Tallowmere");
        std::string url = "rtsp://127.0.0.1:" + std::to_string(server->Port()) + "/bench.asm";
        std::wstring wide(url.begin(), url.end());
        if (filter.As<IFileSourceFilter>(IID_IFileSourceFilter)->Load(wide.c_str(), nullptr) !=
            S_OK) {
            std::fprintf(stderr, "tallowmere_bench: cannot load %s\n", url.c_str());
            return result;
        }
        ComPtr<IBaseFilter> renderer;
        avs::dshow::CreateCaptureRenderer(
            [&](const avs::dshow::CaptureEvent& e) {
                if (e.kind == avs::dshow::CaptureEvent::Kind::kEndOfStream) ended = true;
                if (e.kind != avs::dshow::CaptureEvent::Kind::kSample) return;
                const uint64_t number = samples++;
                if (number >= times.size()) {
                    ++wrong;  // more samples than pictures
                    return;
                }
                times[number] =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begun)
                        .count();
                lengths[number] = static_cast<uint32_t>(e.actual_length);
                // A picture that is not empty must be its picture byte for byte.
                if (number > 0 && e.actual_length > 0) {
                    const auto& picture = index[number - 1];
                    if (static_cast<uint32_t>(e.actual_length) != picture.length ||
                        std::memcmp(e.data, source.Bytes() + picture.offset, picture.length) != 0)
                        ++wrong;
                }
            },
            renderer.Put());
        graph->AddFilter(renderer.Get(), L"capture");
        graph->Connect(avs::dshow::FirstPin(filter.Get(), PINDIR_OUTPUT).Get(),
                       avs::dshow::FirstPin(renderer.Get(), PINDIR_INPUT).Get());
        graph.As<IMediaFilter>(IID_IMediaFilter)->SetSyncSource(nullptr);
        auto control = graph.As<IMediaControl>(IID_IMediaControl);
        begun = Clock::now();
        control->Run();
        while (!ended && Clock::now() - begun < std::chrono::seconds(120))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        control->Stop();
    }
    server->Stop();  // its index stays readable
    // The loopback rate varies from run to run on a shared machine: the median of three.
    double tries[3] = {LoopbackSeconds(result.stream_bytes), LoopbackSeconds(result.stream_bytes),
                       LoopbackSeconds(result.stream_bytes)};
    std::sort(tries, tries + 3);
    result.loopback_rate = static_cast<double>(result.stream_bytes) / 1e6 / tries[1];

    result.samples = std::min<uint64_t>(samples, times.size());
    result.wrong = wrong;
    if (result.samples < 2) return result;
    // The last pictures of a stored stream (under the pin's 5120-byte buffering mark) wait
    // until the server has been quiet for a second: a fixed wait, not throughput. Rates
    // cover the samples before it.
    uint64_t flow = result.samples;
    for (uint64_t k = result.samples - 1; k > 0; --k)
        if (times[k] - times[k - 1] > 500'000'000) {
            flow = k;
            break;
        }
    result.tail = result.samples - flow;
    uint64_t through = 0, delivered = 0;
    for (uint64_t k = 1; k < flow; ++k) {
        through += index[k - 1].length;
        delivered += lengths[k];
        if (lengths[k] == 0) ++result.empty;
    }
    for (uint64_t k = flow; k < result.samples; ++k) result.empty += lengths[k] == 0;
    result.flow_seconds = static_cast<double>(times[flow - 1]) / 1e9;
    result.through_rate = static_cast<double>(through) / 1e6 / result.flow_seconds;
    result.delivered_rate = static_cast<double>(delivered) / 1e6 / result.flow_seconds;
    result.ended = ended;
    result.ok = ended && result.wrong == 0;
    return result;
}

// Runs a case `repeats` times, a line each, then the median ratios. False when a run
// did not reach its end of stream or delivered a wrong sample.
bool RunCase(const Case& c, int number, int repeats) {
    std::string input = MakeInput(c, number);
    if (input.empty()) {
        std::fprintf(stderr, "tallowmere_bench: cannot read %s\n", c.source.c_str());
        return false;
    }
    std::vector<double> through, delivered;
    bool ok = true;
    for (int run = 1; run <= repeats; ++run) {
        RunResult r = RunOnce(input);
        if (run == 1)
            std::printf("case %d: %s x%d: %zu pictures, %.1f MB, %.1f kB a picture\n", number,
                        c.source.c_str(), c.copies, r.pictures,
                        static_cast<double>(r.stream_bytes) / 1e6,
                        r.pictures ? static_cast<double>(r.stream_bytes) / 1e3 / r.pictures : 0.0);
        std::printf(
            "  run %d: %llu samples (%llu empty%s) in %.3f s, %.0f pictures/s; "
            "through %.1f MB/s, delivered %.1f MB/s, loopback %.1f MB/s; "
            "ratio %.2f / %.2f\n",
            run, static_cast<unsigned long long>(r.samples),
            static_cast<unsigned long long>(r.empty), r.ended ? "" : ", no end of stream",
            r.flow_seconds, r.flow_seconds > 0 ? r.samples / r.flow_seconds : 0.0, r.through_rate,
            r.delivered_rate, r.loopback_rate, r.through_rate / r.loopback_rate,
            r.delivered_rate / r.loopback_rate);
        if (r.tail > 0)
            std::printf("         (%llu more after the server's quiet second, not in the rates)\n",
                        static_cast<unsigned long long>(r.tail));
        if (r.wrong > 0)
            std::printf("         %llu samples differ from their pictures\n",
                        static_cast<unsigned long long>(r.wrong));
        std::fflush(stdout);
        ok = ok && r.ok;
        through.push_back(r.through_rate / r.loopback_rate);
        delivered.push_back(r.delivered_rate / r.loopback_rate);
    }
    std::remove(input.c_str());
    std::sort(through.begin(), through.end());
    std::sort(delivered.begin(), delivered.end());
    std::printf("  median ratio to loopback: through %.2f, delivered %.2f (target >= 0.33)\n",
                through[through.size() / 2], delivered[delivered.size() / 2]);
    std::fflush(stdout);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int repeats = 3;
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "-r") {
        repeats = std::atoi(argv[2]);
        first = 3;
    }
    std::vector<Case> cases;
    cases.push_back({std::string(AVS_TEST_DATA_DIR) + "/xavs_cif352x288_25fps_IBP_100f.avs",
                     argc > first ? std::atoi(argv[first]) : 2000});
    for (int i = first + 1; i + 1 < argc; i += 2)
        cases.push_back({argv[i], std::atoi(argv[i + 1])});
    bool usage = repeats < 1 || (argc > first + 1 && (argc - first) % 2 == 0);
    for (const Case& c : cases) usage = usage || c.copies < 1;
    if (usage) {
        std::fprintf(stderr,
                     "usage: tallowmere_bench [-r REPEATS] [COPIES [FILE FILE_COPIES]...]\n");
        return 2;
    }
    bool all_ok = true;
    for (size_t i = 0; i < cases.size(); ++i)
        all_ok = RunCase(cases[i], static_cast<int>(i + 1), repeats) && all_ok;
    return all_ok ? 0 : 1;
}
