#include "avs/unit_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "avs/picture_splitter.h"
#include "avs/picture_state.h"
#include "avs/start_code.h"
#include "synthetic_avs.h"

using namespace avs;
using Bytes = std::vector<uint8_t>;

namespace {

std::vector<Bytes> Split(const Bytes& stream,
                         uint32_t max_capacity = AvsUnitReader::kDefaultMaxCapacity) {
    MemoryByteSource src(stream.data(), stream.size());
    AvsUnitReader reader(src, max_capacity);
    std::vector<Bytes> units;
    while (read_next_unit(reader)) {
        units.emplace_back(reader.Data(), reader.Data() + reader.UnitLength());
        if (units.size() > stream.size() + 1) break;  // never loops without consuming
    }
    return units;
}

// The reader's algorithm written the plain way (whole buffer moved on every drop, every
// search from byte 4), to check the buffered reader against.
std::vector<Bytes> SplitPlainly(const Bytes& stream) {
    Bytes data;
    size_t pos = 0;
    bool eof = false;
    uint32_t unit_length = 0, filled = 0, capacity = 0;
    auto read_in = [&]() {
        size_t want = capacity - filled;
        size_t take = std::min(want, stream.size() - pos);
        std::memcpy(data.data() + filled, stream.data() + pos, take);
        pos += take;
        filled += take;
        if (take < want) eof = true;
        return take > 0;
    };
    auto refill = [&](uint32_t n) {
        if (n > 0) {
            std::memmove(data.data(), data.data() + n, filled - n);
            filled -= n;
            unit_length = 0;
        } else {
            if (eof) return false;
            capacity += 0x4000;
            data.resize(capacity);
        }
        return read_in();
    };
    std::vector<Bytes> units;
    for (;;) {
        if (unit_length > 0 || filled == 0) {
            if (!refill(unit_length) && filled == 0) break;
        }
        if (!BeginsWithPrefix(data.data(), filled)) {
            uint32_t k = find_start_code(data.data(), filled);
            if (k > 0) refill(k);
        }
        for (;;) {
            uint32_t k = filled > 4 ? find_start_code(data.data() + 4, filled - 4) : 0;
            if (k > 0) {
                unit_length = k + 4;
                break;
            }
            if (!refill(0)) {
                unit_length = filled;
                break;
            }
        }
        units.emplace_back(data.begin(), data.begin() + unit_length);
    }
    return units;
}

Bytes Concat(const std::vector<Bytes>& units) {
    Bytes all;
    for (const Bytes& u : units) all.insert(all.end(), u.begin(), u.end());
    return all;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(UnitReader, QuirksAtStartMiddleAndEnd) {
    // Stray byte before the first prefix is dropped; 00 00 00 01 in the middle leaves its
    // extra zero at the end of the previous unit; the end code stays in the last unit.
    Bytes s{0x80, 0,    0, 1, 0xB0, 0x11, 0x22, 0, 0, 0, 1,
            0xB3, 0x33, 0, 0, 1,    0x01, 0x44, 0, 0, 1, 0xB1};
    std::vector<Bytes> u = Split(s);
    ASSERT_EQ(u.size(), 3u);
    EXPECT_EQ(u[0], (Bytes{0, 0, 1, 0xB0, 0x11, 0x22, 0}));
    EXPECT_EQ(u[1], (Bytes{0, 0, 1, 0xB3, 0x33}));
    EXPECT_EQ(u[2], (Bytes{0, 0, 1, 0x01, 0x44, 0, 0, 1, 0xB1}));

    // A file beginning with 00 00 00 01 keeps the extra zero: byte 3 is 01, a slice.
    Bytes z{0, 0, 0, 1, 0xB0, 0x55, 0x66, 0, 0, 1, 0xB3, 0x77, 0x88, 0x99};
    u = Split(z);
    ASSERT_EQ(u.size(), 2u);
    EXPECT_EQ(u[0].size(), 7u);
    EXPECT_EQ(classify_unit(u[0].data(), u[0].size()), AvsUnitType::kSlice);

    // An empty unit directly followed by a prefix merges with the next unit.
    Bytes e{0, 0, 1, 0xB3, 0, 0, 1, 0x02, 0x10, 0x20, 0, 0, 1, 0x03, 0x30, 0x40, 0x50};
    u = Split(e);
    ASSERT_EQ(u.size(), 2u);
    EXPECT_EQ(u[0].size(), 10u);

    // Garbage only, tiny files and an empty file.
    EXPECT_EQ(Split(Bytes{0x12, 0x34, 0x56}).size(), 1u);
    EXPECT_EQ(Split(Bytes{0x12}).at(0), Bytes{0x12});
    EXPECT_TRUE(Split(Bytes{}).empty());
}

TEST(UnitReader, MatchesPlainAlgorithmOnRandomStreamsOfManySizes) {
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        Bytes s;
        // Units from tiny to several buffer steps, with occasional zero runs and garbage
        // at the start.
        std::uniform_int_distribution<int> garbage(0, round % 3 == 0 ? 20000 : 3);
        int g = garbage(rng);
        for (int i = 0; i < g; ++i) s.push_back(static_cast<uint8_t>(rng() | 1));
        int units = 1 + rng() % 40;
        for (int i = 0; i < units; ++i) {
            if (rng() % 5 == 0) s.push_back(0);
            s.insert(s.end(), {0, 0, 1, static_cast<uint8_t>(rng())});
            size_t len = rng() % 8 == 0 ? rng() % 70000 : rng() % 300;
            for (size_t k = 0; k < len; ++k) {
                uint32_t r = rng();
                s.push_back(r % 50 == 0 ? 0 : static_cast<uint8_t>(r | 0x10));
            }
        }
        std::vector<Bytes> expected = SplitPlainly(s);
        std::vector<Bytes> got = Split(s);
        ASSERT_EQ(got.size(), expected.size()) << "round " << round;
        for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], expected[i]) << round << "/" << i;
        // Only leading bytes dropped in front of the first prefix can be lost.
        Bytes joined = Concat(got);
        ASSERT_LE(joined.size(), s.size());
        EXPECT_TRUE(std::equal(joined.rbegin(), joined.rend(), s.rbegin()));
    }
}

TEST(UnitReader, LargeUnitGrowsBufferAndCapIsHonoured) {
    std::mt19937 rng(3);
    Bytes s = synthetic::SequenceHeader({});
    Bytes big = synthetic::Slice(1, 3 * 1024 * 1024, rng);
    s.insert(s.end(), big.begin(), big.end());
    Bytes tail = synthetic::Slice(2, 10, rng);
    s.insert(s.end(), tail.begin(), tail.end());

    MemoryByteSource src(s.data(), s.size());
    AvsUnitReader reader(src);
    ASSERT_TRUE(read_next_unit(reader));
    ASSERT_TRUE(read_next_unit(reader));
    EXPECT_EQ(reader.UnitLength(), big.size());
    EXPECT_EQ(reader.Capacity() % AvsUnitReader::kGrowStep, 0u);
    EXPECT_GE(reader.Capacity(), big.size());
    EXPECT_LT(reader.Capacity(), big.size() + 2 * AvsUnitReader::kGrowStep);
    ASSERT_TRUE(read_next_unit(reader));
    EXPECT_EQ(reader.UnitLength(), tail.size());
    EXPECT_FALSE(read_next_unit(reader));
    reader.Reset();
    EXPECT_EQ(reader.Capacity(), 0u);
    src.Rewind();
    ASSERT_TRUE(read_next_unit(reader));
    EXPECT_EQ(classify_unit(reader.Data(), reader.UnitLength()), AvsUnitType::kSequenceHeader);

    // With a cap the big unit comes out in pieces, nothing is lost.
    std::vector<Bytes> pieces = Split(s, 1 << 20);
    EXPECT_GT(pieces.size(), 3u);
    EXPECT_EQ(Concat(pieces), s);
    for (const Bytes& p : pieces) EXPECT_LE(p.size(), 1u << 20);
}

TEST(UnitReader, PiecesOfACutUnitJoinToTheUnitsOfAnUncutRead) {
    // A unit boundary at every offset around the cut, a 00 00 00 01 prefix among them: the
    // pieces, each joined to the unit it continues, are the units read without a cap.
    constexpr uint32_t kCap = 4 * AvsUnitReader::kGrowStep;
    std::mt19937 rng(9);
    for (size_t first = kCap - 12; first <= kCap + 4; ++first) {
        for (bool four_byte : {false, true}) {
            Bytes s = synthetic::Slice(1, first - 4, rng);
            if (four_byte) s.back() = 0x00;
            Bytes next = synthetic::Slice(2, 3 * kCap, rng);
            s.insert(s.end(), next.begin(), next.end());
            Bytes tail = synthetic::Slice(3, 10, rng);
            s.insert(s.end(), tail.begin(), tail.end());

            MemoryByteSource src(s.data(), s.size());
            AvsUnitReader reader(src, kCap);
            std::vector<Bytes> joined;
            while (read_next_unit(reader)) {
                EXPECT_LE(reader.UnitLength(), kCap);
                if (!reader.ContinuesUnit() || joined.empty()) joined.emplace_back();
                joined.back().insert(joined.back().end(), reader.Data(),
                                     reader.Data() + reader.UnitLength());
            }
            EXPECT_EQ(joined, Split(s)) << "first unit " << first << " bytes";
        }
    }
}

TEST(UnitReader, RealStreamsFromAFileGiveEveryPicture) {
    struct Sample {
        const char* name;
        int pictures;
        int sequence_headers;
    };
    // In rm52j every later sequence header follows a 4-byte sequence-end unit directly; the
    // empty unit absorbs it, so only the first header is seen as one.
    for (Sample smp : {Sample{"xavs_cif352x288_25fps_IBP_100f.avs", 100, 4},
                       Sample{"rm52j_cif352x288_25fps_IBBP_gop12_100f.avs", 100, 1}}) {
        std::string path = std::string(AVS_TEST_DATA_DIR) + "/" + smp.name;
        Bytes whole = ReadFile(path);
        ASSERT_FALSE(whole.empty()) << path;
        FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        FileByteSource src(f);
        AvsUnitReader reader(src);
        AvsPictureState st;
        int pictures = 0, seqs = 0, starts = 0;
        size_t total = 0;
        while (read_next_unit(reader)) {
            total += reader.UnitLength();
            st.previous_type = st.type;
            UnitResult r = examine_unit(reader.Data(), reader.UnitLength(), st);
            if (r != UnitResult::kContinues) ++starts;
            if (st.type == AvsUnitType::kSequenceHeader) {
                ++seqs;
                EXPECT_EQ(st.header.horizontal_size, 352);
                EXPECT_EQ(st.header.vertical_size, 288);
                EXPECT_EQ(st.header.frame_rate_code, 3);
            }
            int t = static_cast<int>(st.type);
            if (t >= 5 && t <= 7) ++pictures;
            EXPECT_NE(r, UnitResult::kBadFrameRate);
        }
        std::fclose(f);
        EXPECT_EQ(pictures, smp.pictures) << smp.name;
        EXPECT_EQ(seqs, smp.sequence_headers) << smp.name;
        EXPECT_GT(starts, pictures);
        // rm52j starts with one stray byte, which is the only byte dropped.
        EXPECT_EQ(total + (whole[0] == 0x80 ? 1 : 0), whole.size()) << smp.name;
    }
}

TEST(PictureSplitter, PicturesCarryTheUnitsBeforeThemAndLoseNothing) {
    std::mt19937 rng(21);
    Bytes seq = synthetic::SequenceHeader({});
    const Bytes ext = {0, 0, 1, 0xB5, 0x20, 0x11};
    const Bytes user = {0, 0, 1, 0xB2, 'u', 's', 'r'};
    Bytes s = seq;
    s.insert(s.end(), user.begin(), user.end());
    Bytes p1;
    synthetic::AppendPicture(p1, synthetic::PictureKind::kI, 2, 20, rng);
    // An extension between a picture header and its slices stays with that picture.
    Bytes p2 = synthetic::PbPictureHeader(1);
    p2.insert(p2.end(), ext.begin(), ext.end());
    Bytes sl = synthetic::Slice(0, 20, rng);
    p2.insert(p2.end(), sl.begin(), sl.end());
    Bytes p3;
    synthetic::AppendPicture(p3, synthetic::PictureKind::kB, 1, 20, rng);
    const Bytes end = {0, 0, 1, 0xB1, 0x00, 0x00};
    Bytes stream = s;
    for (const Bytes* part : std::initializer_list<const Bytes*>{&p1, &seq, &p2, &p3, &end})
        stream.insert(stream.end(), part->begin(), part->end());

    MemoryByteSource src(stream.data(), stream.size());
    AvsUnitReader reader(src);
    AvsPictureSplitter splitter(reader);
    std::vector<Bytes> pictures;
    std::vector<AvsUnitType> types;
    Bytes picture;
    AvsUnitType type;
    while (splitter.Next(picture, &type)) {
        pictures.push_back(picture);
        types.push_back(type);
    }
    ASSERT_EQ(pictures.size(), 3u);
    Bytes first = s;
    first.insert(first.end(), p1.begin(), p1.end());
    EXPECT_EQ(pictures[0], first);
    Bytes second = seq;
    second.insert(second.end(), p2.begin(), p2.end());
    EXPECT_EQ(pictures[1], second);
    Bytes third = p3;
    third.insert(third.end(), end.begin(), end.end());
    EXPECT_EQ(pictures[2], third);
    EXPECT_EQ(types, (std::vector<AvsUnitType>{AvsUnitType::kIPicture, AvsUnitType::kPPicture,
                                               AvsUnitType::kBPicture}));
    EXPECT_FALSE(splitter.Next(picture));

    // The real streams: 100 pictures each, every byte after the stray leading one kept.
    for (const char* name :
         {"xavs_cif352x288_25fps_IBP_100f.avs", "rm52j_cif352x288_25fps_IBBP_gop12_100f.avs"}) {
        Bytes whole = ReadFile(std::string(AVS_TEST_DATA_DIR) + "/" + name);
        MemoryByteSource real(whole.data(), whole.size());
        AvsUnitReader r(real);
        AvsPictureSplitter sp(r);
        int count = 0;
        Bytes joined;
        while (sp.Next(picture, &type)) {
            ++count;
            EXPECT_NE(type, AvsUnitType::kNone);
            joined.insert(joined.end(), picture.begin(), picture.end());
        }
        EXPECT_EQ(count, 100) << name;
        EXPECT_TRUE(std::equal(joined.rbegin(), joined.rend(), whole.rbegin())) << name;
        EXPECT_GE(joined.size() + 1, whole.size()) << name;
    }
}

TEST(UnitReader, RetainedUnitsStayReadableAcrossBufferMoves) {
    // Groups of units, some several MB, gathered without copying: the retained bytes must
    // equal the units as read one by one, however the buffer moved or grew meanwhile.
    std::mt19937 rng(31);
    Bytes s;
    for (int i = 0; i < 400; ++i) {
        size_t body = i % 97 == 5 ? 3 * 1024 * 1024 : rng() % 5000;
        Bytes u = synthetic::Slice(static_cast<uint8_t>(i % 0xB0), body, rng);
        s.insert(s.end(), u.begin(), u.end());
    }
    MemoryByteSource src(s.data(), s.size());
    AvsUnitReader reader(src);
    Bytes group, gathered;
    int in_group = 0;
    bool more = read_next_unit(reader);
    while (more) {
        if (in_group == 0) reader.Retain();
        group.insert(group.end(), reader.Data(), reader.Data() + reader.UnitLength());
        more = read_next_unit(reader);
        if (++in_group == 7 || !more) {
            ASSERT_EQ(reader.RetainedLength(), group.size());
            ASSERT_TRUE(std::equal(group.begin(), group.end(), reader.Retained()));
            gathered.insert(gathered.end(), group.begin(), group.end());
            group.clear();
            in_group = 0;
            reader.Release();
            EXPECT_EQ(reader.RetainedLength(), 0u);
        }
    }
    EXPECT_EQ(gathered, s);
}
