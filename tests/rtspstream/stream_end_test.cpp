// How a stored stream ends when the server does not play along: a clip
// shorter than the end margin or without a usable range, a connection that
// closes early, an RTCP BYE, and one picture stamped hours ahead. Each server
// stays silent with the connection open unless told otherwise, so only the
// filter can end the stream; each case must end within a few seconds.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "rtspstream/rtsp_video_stream.h"
#include "rtspstream/status_listener.h"
#include "tests/rtsp/fake_server.h"
#include "tests/rtspstream/graph_harness.h"

namespace {

using namespace rtspstreamtest;
using Kind = CaptureEvent::Kind;
using rtsptest::FakeServer;
using rtsptest::StoredStream;

// The pictures after the header sample, in order.
std::vector<Seen> Pictures(const std::vector<Seen>& seen) {
    std::vector<Seen> out;
    bool header = true;
    for (const Seen& e : seen) {
        if (e.kind != Kind::kSample) continue;
        if (header) {
            header = false;
            continue;
        }
        out.push_back(e);
    }
    return out;
}

struct Played {
    bool ended = false;
    std::chrono::milliseconds took{0};
    std::vector<Seen> pictures;
};

// Plays the scripted stream as a stored (".asm") address until the video
// ends or `limit` passes.
Played Play(const StoredStream& script, std::chrono::milliseconds limit) {
    FakeServer server(script);
    Played r;
    Player p;
    if (p.Load(server.Url("/clip.asm")) != S_OK) return r;
    p.Render();
    auto begun = std::chrono::steady_clock::now();
    if (p.Control()->Run() != S_OK) return r;
    r.ended = p.video.WaitEnd(limit);
    r.took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - begun);
    EXPECT_EQ(p.Control()->Stop(), S_OK);
    r.pictures = Pictures(p.video.Snapshot());
    return r;
}

// The first `count` pictures as sent, 40 ms apart from 0.
void ExpectPictures(const Played& r, const StoredStream& script, int count) {
    ASSERT_GE(r.pictures.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(r.pictures[i].bytes, script.Picture(i)) << "picture " << i;
        EXPECT_NEAR(static_cast<double>(r.pictures[i].start), i * 400000.0, 2.0) << "picture " << i;
    }
}

TEST(TallowmereEnd, ShortClipOrNoUsableRangeEnds) {
    for (const char* range : {"npt=0-1.5", "", "npt=0-nan", "npt=0--3", "npt=0-0.9"}) {
        SCOPED_TRACE(range);
        StoredStream script;
        if (*range) {
            script.range = range;
        } else {
            script.range.reset();
        }
        script.frames = 25;  // 1 s
        Played r = Play(script, 6s);
        EXPECT_TRUE(r.ended);
        EXPECT_LT(r.took, 4s);
        EXPECT_EQ(r.pictures.size(), static_cast<size_t>(script.frames));
        ExpectPictures(r, script, script.frames);
    }
}

TEST(TallowmereEnd, ClosedConnectionAndByeEndTheStream) {
    for (bool bye : {false, true}) {
        SCOPED_TRACE(bye ? "BYE" : "closed");
        StoredStream script;
        script.range = "npt=0-60";  // announced as 60 s, gone after 1.2 s
        script.frames = 30;
        script.bye = bye;
        script.close = !bye;
        Played r = Play(script, 6s);
        EXPECT_TRUE(r.ended);
        EXPECT_LT(r.took, 3s);
        EXPECT_EQ(r.pictures.size(), static_cast<size_t>(script.frames));
        ExpectPictures(r, script, script.frames);
    }
}

// One picture stamped three hours ahead (in its RTP header, or in junk on the
// RTCP channel that looks like a video packet): the stream still ends by the
// usual rule, and the pictures after it keep their places on the time line.
TEST(TallowmereEnd, TimeStampHoursAheadIsADiscontinuity) {
    constexpr uint32_t kThreeHours = 3u * 3600 * 90000;
    for (int form = 0; form < 3; ++form) {
        SCOPED_TRACE(form);
        StoredStream script;
        script.range = "npt=0-4";
        script.frames = 100;
        if (form == 0) {
            script.jump_at = 60;
            script.jump = kThreeHours;
        } else {
            script.junk_at = 60;
            script.junk_second_byte = form == 1 ? 96 : 0x80 | 96;
            script.junk_timestamp = script.first_timestamp + 60 * 3600 + kThreeHours;
        }
        Played r = Play(script, 6s);
        EXPECT_TRUE(r.ended);
        EXPECT_LT(r.took, 4s);
        // Junk with the marker bit set is one more (spoilt) picture; without
        // it, it spoils the picture it lands in.
        EXPECT_EQ(r.pictures.size(), form == 2 ? 101u : 100u);
        if (form == 0) ExpectPictures(r, script, 60);
        int64_t last = -1;
        for (const Seen& e : r.pictures) {
            if (!e.has_time) continue;
            EXPECT_GE(e.start, last);      // the stray keeps the time before it
            EXPECT_LT(e.start, 40000000);  // nothing hours ahead
            last = e.start;
        }
        EXPECT_NEAR(static_cast<double>(r.pictures.back().start), 99 * 400000.0, 2.0);
    }
}

}  // namespace
