// Arbitrary bytes as an .asm file played through the filter: the signature test,
// the container open and the track setup in Load, then every sample of every
// stream read and delivered, a seek, and playback again. A stream that never
// ends is a fault: the run must complete.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "filesource/branwick_video_stream.h"
#include "filter_harness.h"

namespace {

// Video buffers are four bytes per coded pixel; a made-up header can ask for a
// gigabyte, which says nothing about the parser.
constexpr int64_t kMaxVideoBuffer = 64 << 20;
constexpr int64_t kMaxSamples = 20000;

// Runs the graph to its end. A graph that refuses to run (a buffer the allocator cannot
// give, say for a picture of no size) has refused the file, which is fine; a running graph
// that does not complete is the fault.
void RunToEnd(filesource::test::FilterGraph& g) {
    auto graph = avs::com::ComPtr<IGraphBuilder>(g.graph());
    auto control = graph.As<IMediaControl>(IID_IMediaControl);
    auto event = graph.As<IMediaEvent>(IID_IMediaEvent);
    if (FAILED(control->Run())) return;
    LONG code = 0;
    if (event->WaitForCompletion(10000, &code) != S_OK) std::abort();
}

void Play(const std::string& path) {
    filesource::test::FilterGraph g(path);
    if (FAILED(g.ReceiveInput())) return;
    auto* source = g.filter();
    // Without output streams there is nothing to play (and, connected past the
    // reader's back, the filter would count as a renderer that never completes).
    if (source->GetPinCount() < 2) return;
    if (auto* video = source->video_stream()) {
        const auto& h = video->header();
        if (int64_t(h.horizontal_size) * h.vertical_size * 4 > kMaxVideoBuffer) return;
    }
    // A table may declare millions of samples in a few bytes; each still goes
    // out (empty when unreadable), which takes longer than a fuzz run may.
    for (int i = 1; i < source->GetPinCount(); ++i) {
        auto* stream = static_cast<filesource::CBranwickStream*>(
            static_cast<CSourceStream*>(source->GetPin(i)));
        if (stream->sample_limit() > kMaxSamples) return;
    }
    if (!g.AttachRenderers()) return;
    RunToEnd(g);
    REFERENCE_TIME duration = 0;
    if (auto seeking =
            avs::com::ComPtr<IGraphBuilder>(g.graph()).As<IMediaSeeking>(IID_IMediaSeeking))
        seeking->GetDuration(&duration);
    g.Stop();
    g.Seek(duration / 3);
    RunToEnd(g);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // In memory, named through /proc so the file reader can open it.
    const int fd = memfd_create("asm", 0);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    Play("/proc/self/fd/" + std::to_string(fd));
    close(fd);
    return 0;
}
