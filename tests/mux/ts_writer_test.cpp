#include "mux/ts_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "mux/crc32.h"
#include "mux_test_support.h"

namespace mux {
// The section writer is private; these tests reach it for the length limit.
struct TsWriterAccess {
    using Result = TsWriter::SectionResult;
    static Result write_section(TsWriter& w, const uint8_t* payload, size_t length) {
        return w.write_section(2, 1, 0, 0, 0, payload, length);
    }
};
}  // namespace mux

using namespace mux;
using muxtest::Bytes;

namespace {

// An unbuffered stream whose writes fail from the `fail_from`-th one (counted from 1) for
// `fail_count` writes; the others are kept in `kept`.
struct FailingSink {
    int fail_from = 1;
    int fail_count = 1;
    int writes = 0;
    std::string kept;
    std::FILE* file = nullptr;

    FailingSink(int from, int count) : fail_from(from), fail_count(count) {
        cookie_io_functions_t io{};
        io.write = [](void* cookie, const char* buf, size_t size) -> ssize_t {
            auto* self = static_cast<FailingSink*>(cookie);
            int n = ++self->writes;
            // 0 rather than -1: glibc counts -1 as bytes written.
            if (n >= self->fail_from && n < self->fail_from + self->fail_count) return 0;
            self->kept.append(buf, size);
            return static_cast<ssize_t>(size);
        };
        file = fopencookie(this, "w", io);
        std::setvbuf(file, nullptr, _IONBF, 0);
    }
    ~FailingSink() { std::fclose(file); }
};

Bytes PacketsOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Hex(std::initializer_list<int> v) {
    return Bytes(v.begin(), v.end());
}

}  // namespace

TEST(TsWriter, CrcAndTheFixedPatAndPmtPackets) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(Crc32Mpeg(abc, 3), 0x9B73448Cu);

    muxtest::MemStream mem;
    TsWriter w(mem.File());
    ASSERT_TRUE(w.write_pat());
    ASSERT_TRUE(w.write_pmt());
    Bytes out = PacketsOf(mem.Str());
    ASSERT_EQ(out.size(), 2 * 188u);

    Bytes pat(out.begin(), out.begin() + 188);
    Bytes pat_expected = Hex({0x47, 0x40, 0x00, 0x11, 0x00, 0x00, 0xB0, 0x0D, 0x01, 0x11, 0xC1,
                              0x00, 0x00, 0x01, 0x11, 0xE1, 0x11, 0x3E, 0x16, 0xC7, 0xD0});
    pat_expected.resize(188, 0xFF);
    EXPECT_EQ(pat, pat_expected);

    Bytes pmt(out.begin() + 188, out.end());
    Bytes pmt_expected = Hex({0x47, 0x41, 0x11, 0x11, 0x00, 0x02, 0xB0, 0x17, 0x01, 0x11, 0xC1,
                              0x00, 0x00, 0xFF, 0xFF, 0xF0, 0x00, 0x42, 0xE1, 0x01, 0xF0, 0x00,
                              0x03, 0xE1, 0x02, 0xF0, 0x00, 0x82, 0x63, 0x9C, 0xA0});
    pmt_expected.resize(188, 0xFF);
    EXPECT_EQ(pmt, pmt_expected);

    // A section longer than 1024 bytes is refused without writing; a long one that fits
    // spans several packets with the counter running on.
    Bytes big(1013, 0xAB);
    EXPECT_EQ(TsWriterAccess::write_section(w, big.data(), big.size()),
              TsWriterAccess::Result::kTooLong);
    EXPECT_EQ(mem.Str().size(), 2 * 188u);
    EXPECT_EQ(TsWriterAccess::write_section(w, big.data(), 1012), TsWriterAccess::Result::kWritten);
    out = PacketsOf(mem.Str());
    ASSERT_EQ(out.size(), (2 + 6) * 188u);  // 1024 + pointer byte over 184-byte payloads
    EXPECT_EQ(out[2 * 188 + 1], 0x41);
    EXPECT_EQ(out[3 * 188 + 1], 0x01);
    EXPECT_EQ(out[3 * 188 + 3], 0x13);
}

TEST(TsWriter, PtsEncodingsKeepLow33Bits) {
    uint8_t b[5];
    EncodePts(0, b);
    EXPECT_EQ(Bytes(b, b + 5), Hex({0x21, 0x00, 0x01, 0x00, 0x01}));
    EncodePts(90000, b);
    EXPECT_EQ(Bytes(b, b + 5), Hex({0x21, 0x00, 0x05, 0xBF, 0x21}));
    EncodePts((int64_t{1} << 33) - 1, b);
    EXPECT_EQ(Bytes(b, b + 5), Hex({0x2F, 0xFF, 0xFF, 0xFF, 0xFF}));
    EncodePts((int64_t{1} << 33) + 90000, b);  // wraps like 90000
    EXPECT_EQ(Bytes(b, b + 5), Hex({0x21, 0x00, 0x05, 0xBF, 0x21}));
    EncodePts(-1, b);
    EXPECT_EQ(Bytes(b, b + 5), Hex({0x2F, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(TsWriter, StuffingCasesAndLongPesPackets) {
    struct Case {
        size_t payload;
        size_t packets;
        int af_length;  // -1: no adaptation field in the last packet
    };
    for (Case c : {Case{170, 1, -1}, Case{169, 1, 0}, Case{168, 1, 1}, Case{1, 1, 168},
                   Case{170 + 184, 2, -1}, Case{171, 2, 182}}) {
        muxtest::MemStream mem;
        TsWriter w(mem.File());
        Bytes payload(c.payload);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + 1);
        ASSERT_TRUE(w.write_pes(payload.data(), payload.size(), StreamKind::kAudio, 90000));
        Bytes out = PacketsOf(mem.Str());
        ASSERT_EQ(out.size(), c.packets * 188) << c.payload;
        const uint8_t* first = out.data();
        EXPECT_EQ(first[1], 0x41);
        EXPECT_EQ(first[2], 0x02);
        const uint8_t* last = out.data() + out.size() - 188;
        if (c.af_length < 0) {
            EXPECT_EQ(last[3] & 0x30, 0x10) << c.payload;
        } else {
            EXPECT_EQ(last[3] & 0x30, 0x30) << c.payload;
            EXPECT_EQ(last[4], c.af_length) << c.payload;
            if (c.af_length >= 1) {
                EXPECT_EQ(last[5], 0x00);
            }
            for (int k = 6; k < 5 + c.af_length; ++k) ASSERT_EQ(last[k], 0xFF) << c.payload;
        }
        muxtest::TsContents ts = muxtest::ParseTs(out);
        EXPECT_TRUE(ts.problems.empty()) << ts.problems.front();
        ASSERT_EQ(ts.pes.size(), 1u);
        EXPECT_EQ(ts.pes[0].payload, payload);
        EXPECT_EQ(ts.pes[0].stream_id, 0xC0);
        EXPECT_EQ(ts.pes[0].pts, 90000);
        EXPECT_EQ(ts.pes[0].declared_length, c.payload + 8);
    }
    // The 14-byte PES header of a 169-byte payload sits after the one-byte field.
    muxtest::MemStream mem;
    TsWriter w(mem.File());
    Bytes p169(169, 0x5A);
    ASSERT_TRUE(w.write_pes(p169.data(), p169.size(), StreamKind::kVideo, 0));
    Bytes out = PacketsOf(mem.Str());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 19),
              Hex({0x47, 0x41, 0x01, 0x31, 0x00, 0x00, 0x00, 0x01, 0xE0, 0x00, 0xB1, 0x80, 0x80,
                   0x05, 0x21, 0x00, 0x01, 0x00, 0x01}));

    // Above 65535 - 8 bytes the length field is 0; a zero-length payload writes nothing.
    muxtest::MemStream big;
    TsWriter wb(big.File());
    Bytes p70k(70000, 0x11);
    ASSERT_TRUE(wb.write_pes(p70k.data(), p70k.size(), StreamKind::kVideo, 0));
    ASSERT_TRUE(wb.write_pes(p70k.data(), 0, StreamKind::kVideo, 0));
    muxtest::TsContents ts = muxtest::ParseTs(PacketsOf(big.Str()));
    EXPECT_TRUE(ts.problems.empty());
    ASSERT_EQ(ts.pes.size(), 1u);
    EXPECT_EQ(ts.pes[0].declared_length, 0u);
    EXPECT_EQ(ts.pes[0].payload, p70k);
    EXPECT_EQ(ts.packets, 1 + (70000 - 170 + 183) / 184);
    Bytes p65527(65527, 1);
    muxtest::MemStream edge;
    TsWriter we(edge.File());
    ASSERT_TRUE(we.write_pes(p65527.data(), p65527.size(), StreamKind::kVideo, 0));
    Bytes p65528(65528, 2);
    ASSERT_TRUE(we.write_pes(p65528.data(), p65528.size(), StreamKind::kVideo, 0));
    ts = muxtest::ParseTs(PacketsOf(edge.Str()));
    ASSERT_EQ(ts.pes.size(), 2u);
    EXPECT_EQ(ts.pes[0].declared_length, 65535u);
    EXPECT_EQ(ts.pes[1].declared_length, 0u);
}

TEST(TsWriter, PsiRepeatsEveryPeriodAndCountersRunPerPid) {
    muxtest::MemStream mem;
    TsWriter w(mem.File());
    w.SetPsiPeriod(3);
    ASSERT_TRUE(w.write_pat());
    ASSERT_TRUE(w.write_pmt());
    Bytes frame(400, 0x22);  // 3 packets
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(w.write_pes(frame.data(), frame.size(),
                                i % 2 ? StreamKind::kAudio : StreamKind::kVideo, i * 100));
    muxtest::TsContents ts = muxtest::ParseTs(PacketsOf(mem.Str()));
    EXPECT_TRUE(ts.problems.empty()) << ts.problems.front();  // counters wrap past 15
    ASSERT_EQ(ts.pes.size(), 12u);
    // 36 PES packets: a PAT/PMT pair before PES packets 3, 6, ..., 36.
    ASSERT_EQ(ts.pat_packets.size(), 1u + 12);
    EXPECT_EQ(ts.packets, 36u + 2 * 13);
    EXPECT_EQ(ts.pat_packets[0], 0u);
    EXPECT_EQ(ts.pmt_packets[0], 1u);
    // Before the 3rd PES packet there are 2 PES packets and the first pair.
    EXPECT_EQ(ts.pat_packets[1], 4u);
    EXPECT_EQ(ts.pmt_packets[1], 5u);
    EXPECT_EQ(ts.pat_packets[2], 4u + 2 + 3);
}

TEST(TsWriter, FailedPacketWriteIsReported) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    TsWriter w(full);
    Bytes frame(400, 1);
    EXPECT_FALSE(w.write_pes(frame.data(), frame.size(), StreamKind::kVideo, 0));
    std::fclose(full);
}

TEST(TsWriter, BufferedWritingGivesTheSameBytesAndReportsFailures) {
    auto write_all = [](TsWriter& w) {
        w.SetPsiPeriod(7);
        if (!w.write_pat() || !w.write_pmt()) return false;
        Bytes frame(1000, 0x33);
        for (int i = 0; i < 30; ++i)
            if (!w.write_pes(frame.data(), frame.size() - i * 13,
                             i % 3 ? StreamKind::kAudio : StreamKind::kVideo, i * 3600))
                return false;
        return true;
    };
    muxtest::MemStream direct, buffered;
    {
        TsWriter a(direct.File());
        ASSERT_TRUE(write_all(a));
        TsWriter b(buffered.File(), 10 * 188 + 50);  // rounds down to 10 packets
        ASSERT_TRUE(write_all(b));
        // Not everything has reached the stream before the flush.
        EXPECT_LT(buffered.Str().size(), direct.Str().size());
        EXPECT_TRUE(b.Flush());
    }
    EXPECT_EQ(buffered.Str(), direct.Str());

    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    {
        TsWriter w(full, 4 * 188);
        EXPECT_FALSE(write_all(w));  // the packet that fills the buffer fails
        Bytes small(10, 1);
        (void)w.write_pes(small.data(), small.size(), StreamKind::kAudio, 0);
        EXPECT_FALSE(w.Flush());
    }
    std::fclose(full);
}

TEST(TsWriter, FailedPatOrPmtWriteIsReported) {
    Bytes frame(10, 1);
    {
        // Unbuffered: the failing table says so itself.
        FailingSink pat(1, 1);
        TsWriter w(pat.file);
        EXPECT_FALSE(w.write_pat());
        EXPECT_TRUE(w.write_pmt());
        FailingSink pmt(2, 1);
        TsWriter w2(pmt.file);
        EXPECT_TRUE(w2.write_pat());
        EXPECT_FALSE(w2.write_pmt());
    }
    {
        // Buffered: the PMT packet fills the buffer and its hand-over fails.
        FailingSink sink(1, 1);
        TsWriter w(sink.file, 2 * 188);
        EXPECT_TRUE(w.write_pat());
        EXPECT_FALSE(w.write_pmt());
    }
    {
        // A repeated PAT fills the buffer in front of a PES packet and its hand-over fails,
        // losing the PES packet before it: the PES write fails, even though the sink would
        // take the packets after it.
        FailingSink sink(2, 1);
        TsWriter w(sink.file, 2 * 188);
        w.SetPsiPeriod(2);
        ASSERT_TRUE(w.write_pat());
        ASSERT_TRUE(w.write_pmt());  // 1st hand-over
        ASSERT_TRUE(w.write_pes(frame.data(), frame.size(), StreamKind::kVideo, 0));
        EXPECT_FALSE(w.write_pes(frame.data(), frame.size(), StreamKind::kAudio, 0));
        EXPECT_TRUE(w.Flush());
        EXPECT_EQ(sink.kept.size(), 2 * 188u);  // only the first hand-over arrived
    }
}

TEST(TsWriter, APesPacketWrittenInPartsIsTheOneWrittenWhole) {
    std::mt19937 rng(7);
    // Lengths around packet boundaries, parts from one byte to more than a packet, a PSI
    // period short enough to repeat the tables inside the packet.
    for (size_t length :
         {size_t{65536}, size_t{65536 + 170}, size_t{65536 + 170 + 184 * 3 - 1}, size_t{200000}}) {
        Bytes payload(length);
        for (uint8_t& b : payload) b = static_cast<uint8_t>(rng());
        muxtest::MemStream whole_mem, parts_mem;
        {
            TsWriter whole(whole_mem.File());
            whole.SetPsiPeriod(100);
            ASSERT_TRUE(whole.write_pes(payload.data(), 5, StreamKind::kAudio, 7));
            ASSERT_TRUE(whole.write_pes(payload.data(), length, StreamKind::kVideo, 90000));
            ASSERT_TRUE(whole.write_pes(payload.data(), 5, StreamKind::kAudio, 8));
        }
        {
            TsWriter parts(parts_mem.File());
            parts.SetPsiPeriod(100);
            ASSERT_TRUE(parts.write_pes(payload.data(), 5, StreamKind::kAudio, 7));
            parts.BeginPes(StreamKind::kVideo, 90000);
            for (size_t done = 0; done < length;) {
                size_t n = std::min<size_t>(1 + rng() % 400, length - done);
                ASSERT_TRUE(parts.AddPesPayload(payload.data() + done, n));
                done += n;
            }
            ASSERT_TRUE(parts.EndPes());
            ASSERT_TRUE(parts.write_pes(payload.data(), 5, StreamKind::kAudio, 8));
        }
        EXPECT_EQ(PacketsOf(parts_mem.Str()), PacketsOf(whole_mem.Str())) << length;
    }
}
