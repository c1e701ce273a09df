// rtsp_fetch URL VIDEO_OUT [AUDIO_OUT]: runs one RTSP session with the receive side's
// session code, writes every video frame (and audio frame) it is handed to the output
// files in order, and prints what it received. It ends once no frame has come for two
// seconds. A test tool: it lets the Windows build's client be checked against a server
// on the other side of a real socket.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "files/files.h"
#include "rtspstream/rtsp_client_session.h"

namespace {

struct Track {
    std::FILE* out = nullptr;
    uint64_t frames = 0;
    uint64_t bytes = 0;
    int64_t first_time = -1;
    int64_t last_time = -1;
    bool write_failed = false;
};

struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    Track video, audio;
};

int Deliver(const rtspstream::FrameDescriptor& f) {
    auto* r = static_cast<Received*>(f.receiver);
    std::lock_guard lock(r->mutex);
    Track& t = f.is_video ? r->video : r->audio;
    if (t.out && std::fwrite(f.data, 1, f.length, t.out) != f.length) t.write_failed = true;
    ++t.frames;
    t.bytes += f.length;
    if (t.first_time < 0) t.first_time = f.time;
    t.last_time = f.time;
    r->last = std::chrono::steady_clock::now();
    r->changed.notify_all();
    return 0;
}

void Print(const char* name, const Track& t) {
    std::printf("%s: %llu frames, %llu bytes, times %lld to %lld\n", name,
                static_cast<unsigned long long>(t.frames), static_cast<unsigned long long>(t.bytes),
                static_cast<long long>(t.first_time), static_cast<long long>(t.last_time));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: rtsp_fetch URL VIDEO_OUT [AUDIO_OUT]\n");
        return 2;
    }
    Received received;
    received.video.out = avs::files::OpenStream(argv[2], "wb");
    if (argc == 4) received.audio.out = avs::files::OpenStream(argv[3], "wb");
    if (!received.video.out || (argc == 4 && !received.audio.out)) {
        std::fprintf(stderr, "rtsp_fetch: cannot create the output files\n");
        return 1;
    }
    int code = 0;
    {
        rtspstream::RtspClientSession session;
        session.SetDeliver(&Deliver, &received);
        if (!session.Connect(argv[1])) {
            std::fprintf(stderr, "rtsp_fetch: connect failed, status %d\n",
                         static_cast<int>(session.Status()));
            return 1;
        }
        avs::AvsSequenceHeader header;
        bool has_header = session.GetVideoHeader(header);
        std::printf("described: video %d, audio %d, %.3f s, sequence header %d bytes\n",
                    session.HasVideo() ? 1 : 0, session.HasAudio() ? 1 : 0, session.Duration(),
                    has_header ? header.header_length : 0);
        if (!session.Play()) {
            std::fprintf(stderr, "rtsp_fetch: PLAY failed, status %d\n",
                         static_cast<int>(session.Status()));
            return 1;
        }
        // The stream has no end marker the session reports: wait for it to fall
        // silent (at most a minute in all).
        auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::unique_lock lock(received.mutex);
        while (std::chrono::steady_clock::now() < give_up &&
               std::chrono::steady_clock::now() - received.last < std::chrono::seconds(2))
            received.changed.wait_for(lock, std::chrono::milliseconds(200));
        lock.unlock();
        if (!session.Teardown()) {
            std::fprintf(stderr, "rtsp_fetch: TEARDOWN failed, status %d\n",
                         static_cast<int>(session.Status()));
            code = 1;
        }
    }
    // The session is gone, so no callback runs any more.
    Print("video", received.video);
    if (argc == 4) Print("audio", received.audio);
    for (Track* t : {&received.video, &received.audio}) {
        if (t->out && std::fclose(t->out) != 0) t->write_failed = true;
        if (t->write_failed) {
            std::fprintf(stderr, "rtsp_fetch: cannot write the output files\n");
            code = 1;
        }
    }
    return code;
}
