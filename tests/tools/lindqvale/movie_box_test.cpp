// The moov box the writer builds, read back with the box reader: tables,
// chunk runs and 64-bit chunk offsets of files past 4 GiB.
#include "tools/lindqvale/movie_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "mp4/movie_file.h"
#include "tools/lindqvale/container_writer.h"

using namespace lindqvale;

namespace {
Bytes AudioEntry() {
    BoxWriter w;
    const size_t e = w.Open("mp4a");
    w.Zeros(6);
    w.U16(1);
    w.Zeros(8);
    w.U16(2);
    w.U16(16);
    w.U32(0);
    w.U32(44100u << 16);
    w.Close(e);
    return w.Take();
}

TrackTables Track(const char* handler, uint32_t timescale, std::vector<uint64_t> chunk_offsets,
                  std::vector<uint32_t> chunk_sizes, uint32_t duration) {
    TrackTables t;
    t.description.handler = handler;
    t.description.handler_name = "x";
    t.description.timescale = timescale;
    t.description.sample_entry = AudioEntry();
    t.description.write_stss = std::string(handler) == "vide";
    t.chunk_offsets = std::move(chunk_offsets);
    t.chunk_sizes = std::move(chunk_sizes);
    uint32_t n = 0;
    for (uint32_t c : t.chunk_sizes) n += c;
    for (uint32_t i = 0; i < n; ++i) t.sizes.push_back(1000 + i);
    t.duration_runs = {{n, duration}};
    t.duration = uint64_t{n} * duration;
    return t;
}
}  // namespace

TEST(MovieBox, TablesReadBackIncludingOffsetsPastFourGiB) {
    TrackTables video =
        Track("vide", 90000, {100, 5'000'000'000ull, 9'000'000'000ull}, {2, 2, 1}, 3600);
    video.sync_samples = {1, 4};
    TrackTables audio = Track("soun", 44100, {3000, 7000}, {3, 3}, 1152);

    Bytes file = FileTypeBox();
    const Bytes moov = MovieBox({video, audio});
    file.insert(file.end(), moov.begin(), moov.end());
    mp4::MemoryByteSource src(file);
    auto movie = mp4::MovieFile::Open(src);

    // 5 pictures of 3600/90000 s: 200 ms; 6 frames of 1152/44100 s: 156.7 ms.
    EXPECT_EQ(movie->MovieHeader().timescale, 1000u);
    EXPECT_EQ(movie->MovieHeader().duration, 200u);
    ASSERT_EQ(movie->Tracks().size(), 2u);

    const mp4::Track& v = movie->Tracks()[0];
    EXPECT_EQ(v.Id(), 1u);
    EXPECT_EQ(v.HandlerType(), "vide");
    EXPECT_NE(v.TrakBox().Child("mdia")->Child("minf")->Child("stbl")->Child("co64"), nullptr);
    const uint64_t expected_offsets[] = {100, 1100, 5'000'000'000ull, 5'000'001'002ull,
                                         9'000'000'000ull};
    for (uint32_t n = 1; n <= 5; ++n) {
        const auto info = v.Samples().Lookup(n);
        EXPECT_EQ(info.offset, expected_offsets[n - 1]) << n;
        EXPECT_EQ(info.size, 1000 + n - 1);
        EXPECT_EQ(info.start, (n - 1) * 3600u);
        EXPECT_EQ(info.sync, n == 1 || n == 4) << n;
    }

    const mp4::Track& a = movie->Tracks()[1];
    EXPECT_EQ(a.Id(), 2u);
    EXPECT_EQ(a.Timescale(), 44100u);
    EXPECT_EQ(a.Duration(), 6u * 1152);
    EXPECT_NE(a.TrakBox().Child("mdia")->Child("minf")->Child("stbl")->Child("stco"), nullptr);
    EXPECT_EQ(a.Samples().Lookup(4).offset, 7000u);
    EXPECT_EQ(a.Samples().Lookup(6).offset, 7000u + 1003 + 1004);
    EXPECT_TRUE(a.Samples().Lookup(5).sync);  // no stss
}

namespace {
// The movie header's creation time, read from its raw bytes (version 0 or 1).
uint64_t MovieCreationTime(const Bytes& moov) {
    const uint8_t tag[] = {'m', 'v', 'h', 'd'};
    const auto at = std::search(moov.begin(), moov.end(), tag, tag + 4);
    EXPECT_NE(at, moov.end());
    const size_t pos = static_cast<size_t>(at - moov.begin()) + 4;
    const int bytes = moov[pos] == 1 ? 8 : 4;
    uint64_t t = 0;
    for (int i = 0; i < bytes; ++i) t = t << 8 | moov[pos + 4 + static_cast<size_t>(i)];
    return t;
}

class SourceDateEpoch {
  public:
#ifdef _WIN32
    explicit SourceDateEpoch(const char* value) {
        _putenv_s("SOURCE_DATE_EPOCH", value);
    }
    ~SourceDateEpoch() {
        _putenv_s("SOURCE_DATE_EPOCH", "");
    }
#else
    explicit SourceDateEpoch(const char* value) {
        setenv("SOURCE_DATE_EPOCH", value, 1);
    }
    ~SourceDateEpoch() {
        unsetenv("SOURCE_DATE_EPOCH");
    }
#endif
};
}  // namespace

// A fixed SOURCE_DATE_EPOCH makes the container reproducible; a value that is not a plain
// number is ignored rather than read as a time.
TEST(MovieBox, CreationTimeFollowsSourceDateEpochWhenItIsANumber) {
    const TrackTables video = Track("vide", 90000, {100}, {2}, 3600);
    constexpr uint64_t k1904To1970 = 2082844800;
    {
        SourceDateEpoch fixed("1700000000");
        EXPECT_EQ(MovieCreationTime(MovieBox({video})), 1700000000 + k1904To1970);
    }
    const uint64_t clock_now = static_cast<uint64_t>(std::time(nullptr)) + k1904To1970;
    for (const char* bad : {"", "soon", "-5", "12abc", "99999999999999999999999"}) {
        SourceDateEpoch ignored(bad);
        const uint64_t t = MovieCreationTime(MovieBox({video}));
        EXPECT_GE(t, clock_now) << bad;
        EXPECT_LE(t, clock_now + 5) << bad;
    }
}
