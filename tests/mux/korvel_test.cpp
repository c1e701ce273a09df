// The interleaving of Korvel run in-process on generated files.
#include "mux/korvel.h"

#include <gtest/gtest.h>

#include <random>

#include "mux_test_support.h"
#include "synthetic_avs.h"

using muxtest::Bytes;
namespace syn = avs::synthetic;

namespace {

void Append(Bytes& a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
}

struct RunResult {
    int code = -1;
    std::string out, err;
    muxtest::TsContents ts;
};

RunResult RunKorvelOn(muxtest::TempDir& dir, const Bytes& video, const Bytes& audio,
                      const Bytes& stamps) {
    muxtest::WriteFile(dir / "v.avs", video);
    muxtest::WriteFile(dir / "a.mp3", audio);
    muxtest::WriteFile(dir / "t.dat", stamps);
    std::string v = (dir / "v.avs").string(), a = (dir / "a.mp3").string(),
                t = (dir / "t.dat").string(), o = (dir / "o.ts").string();
    const char* argv[] = {"Korvel", v.c_str(), a.c_str(), t.c_str(), o.c_str()};
    muxtest::MemStream out, err;
    RunResult r;
    r.code = mux::RunKorvel(5, argv, out.File(), err.File());
    r.out = out.Str();
    r.err = err.Str();
    r.ts = muxtest::ParseTs(muxtest::ReadFile(dir / "o.ts"));
    return r;
}

// SEQ, I+2 slices, P+1 slice, B+1 slice (no end code).
Bytes SmallVideo(std::mt19937& rng) {
    Bytes v = syn::SequenceHeader({});
    syn::AppendPicture(v, syn::PictureKind::kI, 2, 30, rng);
    syn::AppendPicture(v, syn::PictureKind::kP, 1, 30, rng);
    syn::AppendPicture(v, syn::PictureKind::kB, 1, 30, rng);
    return v;
}

Bytes Frames(int n) {
    Bytes a;
    for (int i = 0; i < n; ++i) Append(a, muxtest::Mp3Frame());
    return a;
}

std::string Order(const muxtest::TsContents& ts) {
    std::string s;
    for (const muxtest::Pes& p : ts.pes)
        s += (p.pid == 0x101 ? "V" : "A") + std::to_string(p.pts) + " ";
    return s;
}

}  // namespace

TEST(Korvel, PeriodAndFrameDurationArithmetic) {
    EXPECT_EQ(mux::PsiPeriodFor(2500, 128), 2723);
    EXPECT_EQ(mux::PsiPeriodFor(8192 - 128, 128), 2723);
    // 20128 * 500 / 1504 = 6691.5, truncated.
    EXPECT_EQ(mux::PsiPeriodFor(20000, 128), 6691);
    // The largest 30-bit rate does not overflow: 1073742143 * 500 / 1504.
    EXPECT_EQ(mux::PsiPeriodFor((1 << 30) - 1, 320), 356962148);
    EXPECT_EQ(mux::AudioFrameDurationFor(1152, 44100), 2351);
    EXPECT_EQ(mux::AudioFrameDurationFor(1152, 48000), 2160);
    EXPECT_EQ(mux::AudioFrameDurationFor(1152, 32000), 3240);
    EXPECT_EQ(mux::AudioFrameDurationFor(576, 22050), 2351);
    EXPECT_EQ(mux::AudioFrameDurationFor(576, 16000), 3240);
}

TEST(Korvel, InterleavesByTimeStampWithPicturesStampedWhenComplete) {
    muxtest::TempDir dir;
    std::mt19937 rng(5);
    Bytes video = SmallVideo(rng);
    RunResult r = RunKorvelOn(dir, video, Frames(5), muxtest::Le32List({0, 80, 40}));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    ASSERT_TRUE(r.ts.problems.empty()) << r.ts.problems.front();
    EXPECT_EQ(Order(r.ts), "A0 V0 V0 V7200 A2351 A4702 A7053 A9404 V3600 ");
    // The video PES payloads put together are the whole video file, cut at the units.
    Bytes joined;
    for (const muxtest::Pes& p : r.ts.pes)
        if (p.pid == 0x101) Append(joined, p.payload);
    EXPECT_EQ(joined, video);
    EXPECT_EQ(r.ts.pes[1].payload.size(), 18u);  // the sequence header alone
    EXPECT_EQ(r.ts.pes[0].payload, muxtest::Mp3Frame());
    EXPECT_EQ(r.ts.pat_packets, std::vector<size_t>{0});
    EXPECT_EQ(r.ts.pmt_packets, std::vector<size_t>{1});
}

TEST(Korvel, ShortOddAndHugeTimeStamps) {
    std::mt19937 rng(6);
    Bytes video = SmallVideo(rng);
    {
        // One value for three pictures: the rest keep it.
        muxtest::TempDir dir;
        RunResult r = RunKorvelOn(dir, video, Bytes{}, muxtest::Le32List({120}));
        // Audio missing: the run stops at the audio check.
        EXPECT_EQ(r.err, "data in file doesn't appear to be MPEG audio\n");
        EXPECT_EQ(r.ts.packets, 0u);
        r = RunKorvelOn(dir, video, Frames(1), muxtest::Le32List({120}));
        EXPECT_EQ(Order(r.ts), "A0 V0 V10800 V10800 V10800 ");
        // Five bytes: the second read is short, the value stays.
        Bytes odd = muxtest::Le32List({40});
        odd.push_back(0x7F);
        r = RunKorvelOn(dir, video, Frames(1), odd);
        EXPECT_EQ(Order(r.ts), "A0 V0 V3600 V3600 V3600 ");
        // No time stamps at all.
        r = RunKorvelOn(dir, video, Frames(1), Bytes{});
        EXPECT_EQ(Order(r.ts), "A0 V0 V0 V0 V0 ");
    }
    {
        // 30,000,000 ms (8.3 hours) times 90 is beyond 32 bits but kept exactly; a negative
        // value keeps its low 33 bits.
        muxtest::TempDir dir;
        RunResult r =
            RunKorvelOn(dir, video, Frames(1), muxtest::Le32List({30000000, -1, 2147483647}));
        ASSERT_EQ(r.ts.pes.size(), 5u);
        EXPECT_EQ(r.ts.pes[2].pts, 2700000000);
        EXPECT_EQ(r.ts.pes[3].pts, (int64_t{1} << 33) - 90);
        // (2^31 - 1) * 90 = 45 * 2^32 - 90; its low 33 bits are 2^32 - 90.
        EXPECT_EQ(r.ts.pes[4].pts, 4294967206);
    }
}

TEST(Korvel, AudioLongerOrShorterThanVideo) {
    std::mt19937 rng(7);
    Bytes video = SmallVideo(rng);
    muxtest::TempDir dir;
    RunResult r = RunKorvelOn(dir, video, Frames(8), muxtest::Le32List({0, 40, 80}));
    // After the last picture has been read, the remaining frames go back to back.
    EXPECT_EQ(Order(r.ts), "A0 V0 V0 V3600 A2351 A4702 A7053 A9404 A11755 A14106 A16457 V7200 ");
    // No audio after the first frame: the pictures follow without it.
    r = RunKorvelOn(dir, video, Frames(1), muxtest::Le32List({0, 40, 80}));
    EXPECT_EQ(Order(r.ts), "A0 V0 V0 V3600 V7200 ");
    ASSERT_TRUE(r.ts.problems.empty());
}

TEST(Korvel, PsiRepeatsWithTheComputedPeriodOverAManyPacketStream) {
    // bit_rate 2500 + 128 kbit/s is below 8192: a pair every 2723 PES packets.
    std::mt19937 rng(8);
    Bytes video = syn::SequenceHeader({});
    std::vector<int32_t> stamps;
    for (int i = 0; i < 60; ++i) {
        syn::AppendPicture(video, syn::PictureKind::kP, 10, 2000, rng);
        stamps.push_back(i * 40);
    }
    muxtest::TempDir dir;
    RunResult r = RunKorvelOn(dir, video, Frames(120), muxtest::Le32List(stamps));
    ASSERT_TRUE(r.ts.problems.empty()) << r.ts.problems.front();
    size_t pes_packets = r.ts.packets - 2 * r.ts.pat_packets.size();
    ASSERT_GT(pes_packets, 2723u * 2);
    ASSERT_EQ(r.ts.pat_packets.size(), 1 + pes_packets / 2723);
    // The second pair stands right before the 2723rd PES packet.
    EXPECT_EQ(r.ts.pat_packets[1], 2u + 2722);
    EXPECT_EQ(r.ts.pmt_packets[1], 2u + 2723);
}

TEST(Korvel, LaterSequenceHeaderWithBadFrameRateStopsSilently) {
    std::mt19937 rng(9);
    Bytes video = SmallVideo(rng);
    syn::SequenceFields bad;
    bad.frame_rate_code = 12;
    Append(video, syn::SequenceHeader(bad));
    syn::AppendPicture(video, syn::PictureKind::kI, 1, 30, rng);
    muxtest::TempDir dir;
    RunResult r = RunKorvelOn(dir, video, Frames(1), muxtest::Le32List({0, 40, 80, 120}));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    // What was written stays in the file; the B picture collected when the bad header
    // arrived is not written.
    EXPECT_EQ(Order(r.ts), "A0 V0 V0 V3600 ");
}
