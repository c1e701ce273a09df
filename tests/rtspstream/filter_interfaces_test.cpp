// Tallowmere's interfaces and status port, a refused server, the local-file
// mode, server faults and a long run of short plays.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "rtspstream/rtsp_audio_stream.h"
#include "rtspstream/rtsp_video_stream.h"
#include "rtspstream/status_listener.h"
#include "tests/rtspstream/graph_harness.h"

namespace {

using namespace rtspstreamtest;
using Kind = CaptureEvent::Kind;

// Sends one query to the status port and collects the replies that come
// within 500 ms.
std::vector<Bytes> AskStatus(uint8_t command, uint8_t tag, size_t replies) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    timeval timeout{0, 500000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(rtspstream::kStatusPort);
    uint8_t query[2] = {command, tag};
    sendto(fd, query, 2, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::vector<Bytes> out;
    while (out.size() < replies) {
        uint8_t buffer[16];
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) break;
        out.emplace_back(buffer, buffer + n);
    }
    close(fd);
    return out;
}

TEST(TallowmereFilter, InterfacesStatusPortAndSecondLoad) {
    rtspserve::ServerOptions o;
    o.audio_path = WriteMp3("iface_a.mp3", 100);
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    Player p;
    std::string address = s.base + "/live/clip.avs";
    std::string passed = "rtsp2" + address.substr(4);
    ASSERT_EQ(p.Load(passed), S_OK);
    EXPECT_TRUE(p.filter->live());

    auto file = p.source.As<IFileSourceFilter>(IID_IFileSourceFilter);
    LPOLESTR name = nullptr;
    ASSERT_EQ(file->GetCurFile(&name, nullptr), S_OK);
    EXPECT_EQ(std::wstring(name), std::wstring(passed.begin(), passed.end()));
    CoTaskMemFree(name);
    EXPECT_EQ(file->GetCurFile(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(file->Load(L"rtsp://127.0.0.1:1/other", nullptr), VFW_E_ALREADY_CONNECTED);

    auto content = p.source.As<IAMMediaContent>(IID_IAMMediaContent);
    BSTR title = nullptr;
    ASSERT_EQ(content->get_Title(&title), S_OK);
    EXPECT_EQ(std::wstring(title), std::wstring(address.begin(), address.end()));
    SysFreeString(title);
    EXPECT_EQ(content->get_AuthorName(&title), E_NOTIMPL);
    EXPECT_EQ(p.source.As<IAMFilterMiscFlags>(IID_IAMFilterMiscFlags)->GetMiscFlags(), 2u);

    auto progress = p.source.As<IAMOpenProgress>(IID_IAMOpenProgress);
    LONGLONG total = 0, current = 0;
    ASSERT_EQ(progress->QueryProgress(&total, &current), S_OK);
    EXPECT_EQ(total, 100);
    EXPECT_EQ(current, 100);  // the audio pin is not buffering yet
    EXPECT_EQ(progress->AbortOperation(), E_NOTIMPL);

    auto position = p.source.As<rtspstream::ISamplePosition>(rtspstream::IID_ISamplePosition);
    ASSERT_TRUE(position);
    EXPECT_EQ(position->Reserved(1, 2), S_OK);
    DWORD queued = 99;
    ASSERT_EQ(position->GetQueuedVideoBytes(&queued), S_OK);
    EXPECT_EQ(queued, 0u);

    // Not yet played: the pins count as buffering.
    std::vector<Bytes> replies = AskStatus(3, 7, 1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], (Bytes{1, 7}));
    replies = AskStatus(2, 9, 2);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(replies[1], (Bytes{9}));
    EXPECT_TRUE(AskStatus(1, 5, 1).empty());

    // Paused: the renderers hold the first samples, the video queue fills
    // from the paced server, and both ways of asking report it.
    p.Render();
    ASSERT_EQ(p.Control()->Pause(), S_OK);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (p.filter->video_pin()->queued_bytes() < 6000 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    uint64_t bytes = p.filter->video_pin()->queued_bytes();
    ASSERT_GE(bytes, 6000u);
    replies = AskStatus(2, 4, 2);
    ASSERT_EQ(replies.size(), 2u);
    uint32_t reported = replies[0][0] | replies[0][1] << 8 | replies[0][2] << 16 |
                        static_cast<uint32_t>(replies[0][3]) << 24;
    EXPECT_GE(reported, bytes);  // paced: it only grows while paused
    ASSERT_EQ(position->GetQueuedVideoBytes(&queued), S_OK);
    EXPECT_GE(queued, reported);
    EXPECT_EQ(p.Control()->Stop(), S_OK);
    EXPECT_TRUE(AskStatus(3, 1, 1).empty());  // Stop ended the listener
}

// The local addresses UDP port 43940 is bound to, as the kernel lists them
// ("0100007F" for 127.0.0.1, "00000000" for any).
std::vector<std::string> StatusPortAddresses() {
    std::vector<std::string> out;
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        size_t colon = local.find(':');
        if (colon != std::string::npos && local.substr(colon + 1) == "ABA4")  // 43940
            out.push_back(local.substr(0, colon));
    }
    return out;
}

// The listener answers this machine only, and a player that finds the port
// held by another (here the test, standing in for a second player) still
// plays: two filters loaded at once both deliver every picture.
TEST(TallowmereFilter, StatusPortOnLoopbackOnlyAndHeldPortStillPlays) {
    rtspserve::ServerOptions o;
    o.paced = false;
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    {
        Player p;
        ASSERT_EQ(p.Load(s.base + "/clip.asm"), S_OK);
        EXPECT_EQ(StatusPortAddresses(), std::vector<std::string>{"0100007F"});
        std::vector<Bytes> replies = AskStatus(3, 2, 1);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0], (Bytes{1, 2}));
        EXPECT_EQ(p.Control()->Stop(), S_OK);
    }
    EXPECT_TRUE(StatusPortAddresses().empty());

    int holder = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(rtspstream::kStatusPort);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    size_t pictures = s.server->Video().pictures.size();
    {
        Player first, second;
        ASSERT_EQ(first.Load(s.base + "/clip.asm"), S_OK);
        ASSERT_EQ(second.Load(s.base + "/clip.asm"), S_OK);
        first.Render();
        second.Render();
        ASSERT_EQ(first.Control()->Run(), S_OK);
        ASSERT_EQ(second.Control()->Run(), S_OK);
        EXPECT_TRUE(first.video.WaitEnd(10s));
        EXPECT_TRUE(second.video.WaitEnd(10s));
        // The header sample and every picture.
        EXPECT_EQ(first.video.Samples(), pictures + 1);
        EXPECT_EQ(second.video.Samples(), pictures + 1);
        // A query reaches the holder, not a filter.
        std::vector<Bytes> replies = AskStatus(3, 2, 1);
        EXPECT_TRUE(replies.empty());
        uint8_t query[4] = {};
        EXPECT_EQ(recv(holder, query, sizeof query, MSG_DONTWAIT), 2);
    }
    close(holder);
}

TEST(TallowmereFilter, RefusedDescribeThenNoFurtherConnection) {
    rtspserve::ServerOptions o;
    o.faults.describe_404 = true;
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    RequestRecorder recorder(s.server->Port());
    std::vector<std::string> boxes;
    AvsSetMessageBoxSink(
        [&](const std::string& text, const std::string&) { boxes.push_back(text); });
    Player p;
    std::string url = recorder.Base() + "/clip.asm";
    EXPECT_EQ(p.Load(url), S_FALSE);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Failed to connect " + url);
    EXPECT_EQ(p.Load(url), S_FALSE);
    EXPECT_EQ(recorder.Connections(), 1);
    EXPECT_EQ(p.filter->GetPinCount(), 0);
    EXPECT_EQ(p.source->Pause(), S_FALSE);
    EXPECT_EQ(p.source->Run(0), S_FALSE);
    LONGLONG total, current;
    EXPECT_EQ(p.source.As<IAMOpenProgress>(IID_IAMOpenProgress)->QueryProgress(&total, &current),
              E_UNEXPECTED);
    AvsSetMessageBoxSink({});
}

TEST(TallowmereFilter, LocalFileFeedsTheVideoPin) {
    Player p;
    ASSERT_EQ(p.Load(SampleAvs()), S_OK);
    ASSERT_TRUE(p.filter->video_pin());
    EXPECT_FALSE(p.filter->audio_pin());
    Bytes start = ReadRange(SampleAvs(), 0, 0x28000);
    EXPECT_EQ(p.filter->video_pin()->header().header_length, 18);
    EXPECT_EQ(Bytes(p.filter->video_pin()->header().header_bytes,
                    p.filter->video_pin()->header().header_bytes + 18),
              Bytes(start.begin(), start.begin() + 18));
    EXPECT_EQ(p.filter->video_pin()->header().horizontal_size, 352);
    p.Render();
    ASSERT_EQ(p.Control()->Run(), S_OK);
    // The file (46 kB) is one read: it stays held, as the last frame does, so
    // only the header goes out and the queue stays empty.
    ASSERT_TRUE(p.video.WaitSamples(1, 10s));
    std::this_thread::sleep_for(300ms);
    std::vector<Seen> samples;
    for (auto& e : p.video.Snapshot())
        if (e.kind == Kind::kSample) samples.push_back(e);
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0].bytes, Bytes(start.begin(), start.begin() + 18));
    EXPECT_TRUE(p.filter->receive()->not_playing());  // the reader has read it all
    EXPECT_EQ(p.Control()->Stop(), S_OK);

    std::vector<std::string> boxes;
    AvsSetMessageBoxSink(
        [&](const std::string& text, const std::string&) { boxes.push_back(text); });
    Player missing;
    EXPECT_EQ(missing.Load("/nonexistent/clip.avs"), S_FALSE);
    AvsSetMessageBoxSink({});
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "CRtspReceive::Init() : Can not open the input file");
    EXPECT_EQ(boxes[1], "Failed to connect /nonexistent/clip.avs");
}

// A server that closes mid-stream, sends garbage or wraps its time stamps:
// no crash or hang, the pictures that come are whole and in time order, and
// every thread the filter started has ended after Stop and release.
TEST(TallowmereFilter, ServerFaultsEndCleanly) {
    int threads_before = ThreadCount();
    for (int fault = 0; fault < 3; ++fault) {
        SCOPED_TRACE(fault);
        rtspserve::ServerOptions o;
        o.audio_path = WriteMp3("fault_a.mp3", 100);
        o.paced = false;
        if (fault == 0) o.faults.close_after_packets = 120;
        if (fault == 1) o.faults.garbage_every = 7;
        if (fault == 2) o.faults.wrap_timestamps = true;
        Served s = Serve(o);
        ASSERT_TRUE(s.server);
        auto begun = std::chrono::steady_clock::now();
        {
            Player p;
            ASSERT_EQ(p.Load(s.base + "/clip.asm"), S_OK);
            p.Render();
            ASSERT_EQ(p.Control()->Run(), S_OK);
            bool ended = p.video.WaitEnd(fault == 0 ? 2s : 8s);
            if (fault == 0) {
                EXPECT_TRUE(ended);  // the closed connection ends it
            }
            ASSERT_EQ(p.Control()->Stop(), S_OK);
            std::vector<Seen> seen = p.video.Snapshot();
            int64_t last = -1;
            size_t pictures = 0;
            for (const Seen& e : seen) {
                if (e.kind != Kind::kSample || !e.has_time || e.bytes.empty()) continue;
                EXPECT_GT(e.start, last);
                // Across a wrap the time line is one 90 kHz tick short (111 units).
                EXPECT_NEAR(static_cast<double>(e.stop - e.start), 400000.0, 120.0);
                last = e.start;
                ++pictures;
            }
            if (fault == 2) {
                EXPECT_EQ(pictures, s.server->Video().pictures.size());
            }
            if (fault == 0) {
                EXPECT_LT(pictures, s.server->Video().pictures.size());
            }
        }
        EXPECT_LT(std::chrono::steady_clock::now() - begun, 15s);
    }
    // The server's own threads end with it; what is left is ours.
    EXPECT_EQ(ThreadCount(), threads_before);
}

TEST(TallowmereFilter, HundredLoadPauseRunStopCycles) {
    rtspserve::ServerOptions o;
    o.audio_path = WriteMp3("cycle_a.mp3", 100);
    Served s = Serve(o);
    ASSERT_TRUE(s.server);
    int threads_before = ThreadCount();
    auto begun = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        Player p;
        ASSERT_EQ(p.Load(s.base + (i % 2 ? "/clip.asm" : "/clip.avs")), S_OK) << i;
        p.Render();
        auto control = p.Control();
        ASSERT_EQ(control->Pause(), S_OK) << i;
        ASSERT_EQ(control->Run(), S_OK) << i;
        if (i % 10 == 0) p.video.WaitSamples(3, 2s);
        ASSERT_EQ(control->Stop(), S_OK) << i;
    }
    auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_LT(took, 60s);
    std::this_thread::sleep_for(300ms);  // the server's connection threads wind down
    EXPECT_LE(ThreadCount(), threads_before + 2);
}

}  // namespace
