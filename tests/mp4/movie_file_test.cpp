#include "mp4/movie_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "mp4/error.h"
#include "mp4/sample_entry.h"
#include "tests/mp4/movie_builder.h"

using namespace testing_mp4;

namespace {

// Counts what the reader pulls from the source, and can deliver short reads
// over one unreadable byte (as an upstream reader may).
class CountingSource : public mp4::ByteSource {
  public:
    explicit CountingSource(Bytes b, uint64_t bad_byte = UINT64_MAX)
        : bytes_(std::move(b)), bad_byte_(bad_byte) {}
    uint64_t Size() override { return bytes_.size(); }
    size_t Read(void* buf, size_t n) override {
        ++reads;
        uint64_t end = std::min<uint64_t>(pos_ + n, bytes_.size());
        if (pos_ <= bad_byte_ && bad_byte_ < end) end = bad_byte_;
        size_t got = pos_ >= end ? 0 : end - pos_;
        std::copy_n(bytes_.begin() + pos_, got, static_cast<uint8_t*>(buf));
        pos_ += got;
        bytes_read += got;
        return got;
    }
    void Seek(uint64_t p) override { pos_ = p; }
    uint64_t bytes_read = 0;
    int reads = 0;

  private:
    Bytes bytes_;
    uint64_t bad_byte_;
    uint64_t pos_ = 0;
};

// The plain reader does not know "avc1"; tests use it as any visual entry.
const mp4::BoxFactory& Factory() {
    static const mp4::BoxFactory kF = [] {
        mp4::BoxFactory f = mp4::StandardBoxFactory();
        f.Add("avc1", [] { return std::make_unique<mp4::VisualSampleEntry>(); });
        return f;
    }();
    return kF;
}

Bytes SampleOf(size_t n, uint8_t fill) {
    return Bytes(n, fill);
}

MovieSpec TwoTrackMovie() {
    MovieSpec m;
    m.duration = 4000;
    TrackSpec v;
    v.id = 1;
    v.handler = "vide";
    v.timescale = 90000;
    v.entries = {VisualEntry("avc1", {})};
    for (int i = 0; i < 7; ++i) v.samples.push_back(SampleOf(100 + i, uint8_t(i)));
    v.durations = {3600, 3600, 3600, 3600, 1800, 1800, 3600};
    v.sync = std::vector<uint32_t>{5, 1};
    v.samples_per_chunk = 3;
    v.co64 = true;
    v.mdhd_v1 = true;
    TrackSpec a;
    a.id = 2;
    a.handler = "soun";
    a.timescale = 44100;
    a.entries = {AudioEntry("mp4a", 44100, {})};
    for (int i = 0; i < 4; ++i) a.samples.push_back(SampleOf(417, uint8_t(0xA0 + i)));
    a.durations = {1152, 1152, 1152, 1152};
    m.tracks = {v, a};
    m.mvhd_v1 = true;
    m.large_mdat = true;
    return m;
}

std::string OpenError(const Bytes& file) {
    mp4::MemoryByteSource src(file);
    try {
        mp4::MovieFile::Open(src, Factory());
    } catch (const mp4::Mp4Error& e) {
        return e.what();
    }
    return "";
}

// Moves the audio chunk (four 417-byte samples, the first at `first`) so that its last
// sample ends one byte past the file; false when the chunk offset is not found.
bool MoveAudioChunkPastEnd(Bytes& file, const mp4::SampleInfo& first) {
    Bytes needle;
    Put32(needle, static_cast<uint32_t>(first.offset));
    auto it = std::search(file.begin() + static_cast<std::ptrdiff_t>(first.offset) + 4 * 417,
                          file.end(), needle.begin(), needle.end());
    if (it == file.end()) return false;
    Bytes moved;
    Put32(moved, static_cast<uint32_t>(file.size() - 4 * 417 + 1));
    std::copy(moved.begin(), moved.end(), it);
    return true;
}

// What check_tables_fit says of a file that opens; "" when it has no complaint.
std::string FitError(const Bytes& file) {
    mp4::MemoryByteSource src(file);
    auto movie = mp4::MovieFile::Open(src, Factory());
    try {
        movie->CheckTablesFit();
    } catch (const mp4::Mp4Error& e) {
        return e.what();
    }
    return "";
}

// Where the payload of the `nth` (from 0) box of `type` begins.
size_t PayloadOf(const Bytes& file, const std::string& type, int nth) {
    auto it = file.begin();
    for (int i = 0; i <= nth; ++i) {
        it = std::search(i ? it + 1 : it, file.end(), type.begin(), type.end());
        if (it == file.end()) return 0;
    }
    return static_cast<size_t>(it - file.begin()) + 4;
}

void Set32(Bytes& file, size_t at, uint64_t v) {
    Bytes b;
    Put32(b, static_cast<uint32_t>(v));
    std::copy(b.begin(), b.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

TEST(MovieFile, ReadsTracksTablesAndSamples) {
    MovieSpec spec = TwoTrackMovie();
    Bytes file = BuildMovie(spec);
    mp4::MemoryByteSource src(file);
    auto movie = mp4::MovieFile::Open(src, Factory());

    EXPECT_EQ(movie->MovieHeader().timescale, 1000u);
    EXPECT_EQ(movie->MovieHeader().duration, 4000u);
    EXPECT_EQ(movie->MovieHeader().modification_time, 1234u);
    ASSERT_EQ(movie->Tracks().size(), 2u);

    const mp4::Track& v = movie->Tracks()[0];
    EXPECT_EQ(v.Id(), 1u);
    EXPECT_EQ(v.HandlerType(), "vide");
    EXPECT_EQ(v.Timescale(), 90000u);
    EXPECT_EQ(v.SampleCount(), 7u);
    EXPECT_EQ(v.SingleEntryType(), "avc1");

    uint64_t expected_start = 0;
    for (uint32_t n = 1; n <= 7; ++n) {
        mp4::SampleInfo info;
        Bytes got = movie->ReadSample(v, n, &info);
        EXPECT_EQ(got, spec.tracks[0].samples[n - 1]) << n;
        EXPECT_EQ(info.start, expected_start) << n;
        EXPECT_EQ(info.duration, spec.tracks[0].durations[n - 1]);
        EXPECT_EQ(info.sync, n == 1 || n == 5) << n;
        EXPECT_EQ(info.description_index, 1u);
        expected_start += info.duration;
    }

    const mp4::Track& a = *movie->FindTrack(2);
    EXPECT_EQ(a.HandlerType(), "soun");
    const auto* entry = dynamic_cast<const mp4::AudioSampleEntry*>(a.Descriptions().Entry(1));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->sample_rate, 44100u);
    EXPECT_EQ(entry->data_reference_index, 1u);
    for (uint32_t n = 1; n <= 4; ++n) {
        mp4::SampleInfo info;
        EXPECT_EQ(movie->ReadSample(a, n, &info), spec.tracks[1].samples[n - 1]);
        EXPECT_TRUE(info.sync);  // no stss: every sample is a sync sample
        EXPECT_EQ(info.start, (n - 1) * 1152u);
    }
    EXPECT_EQ(movie->FindTrack(3), nullptr);
}

TEST(MovieFile, OpenReadsHeadersOnlyNotMediaData) {
    MovieSpec spec = TwoTrackMovie();
    spec.tracks[0].samples[3] = Bytes(4 << 20, 0x55);
    Bytes file = BuildMovie(spec);
    CountingSource src(file);
    auto movie = mp4::MovieFile::Open(src, Factory());
    EXPECT_LT(src.bytes_read, 4096u);
    EXPECT_LT(src.reads, 80);  // a few per box, never per byte
    // A sample is one read.
    const int before = src.reads;
    EXPECT_EQ(movie->ReadSample(movie->Tracks()[0], 4).size(), size_t(4 << 20));
    EXPECT_EQ(src.reads - before, 1);
}

TEST(MovieFile, RefusesSampleNumbersAndDataItCannotRead) {
    MovieSpec spec = TwoTrackMovie();
    Bytes file = BuildMovie(spec);
    mp4::MemoryByteSource src(file);
    auto movie = mp4::MovieFile::Open(src, Factory());
    const mp4::Track& v = movie->Tracks()[0];
    EXPECT_THROW(movie->ReadSample(v, 0), mp4::Mp4Error);
    EXPECT_THROW(movie->ReadSample(v, 8), mp4::Mp4Error);

    // A source that is shorter than it says: the read hits its end.
    const uint64_t last_audio_end = movie->InfoOf(movie->Tracks()[1], 4).offset + 417;
    CountingSource lying(file, last_audio_end - 1);
    auto m2 = mp4::MovieFile::Open(lying, Factory());
    try {
        m2->ReadSample(m2->Tracks()[1], 4);
        FAIL() << "short read not noticed";
    } catch (const mp4::Mp4Error& e) {
        EXPECT_STREQ(e.what(), mp4::kEndOfFileMessage);
    }
}

TEST(MovieFile, SamplesOfUnknownEntriesOrOtherFilesAreNotRead) {
    MovieSpec spec = TwoTrackMovie();
    spec.tracks[0].entries = {Box("avs2", Bytes(78, 0))};  // not known to the plain reader
    spec.tracks[1].dref_flags = 0;                         // data in another file
    Bytes file = BuildMovie(spec);
    mp4::MemoryByteSource src(file);
    auto movie = mp4::MovieFile::Open(src, Factory());
    EXPECT_EQ(movie->Tracks()[0].SingleEntryType(), "avs2");
    EXPECT_THROW(movie->ReadSample(movie->Tracks()[0], 1), mp4::Mp4Error);
    EXPECT_THROW(movie->ReadSample(movie->Tracks()[1], 1), mp4::Mp4Error);

    spec = TwoTrackMovie();
    spec.tracks[0].entries.push_back(VisualEntry("avc1", {}));
    file = BuildMovie(spec);
    mp4::MemoryByteSource src2(file);
    movie = mp4::MovieFile::Open(src2, Factory());
    EXPECT_THROW(movie->Tracks()[0].SingleEntryType(), mp4::Mp4Error);
    EXPECT_EQ(movie->ReadSample(movie->Tracks()[0], 1), spec.tracks[0].samples[0]);
}

TEST(MovieFile, SampleDataPastTheFileEndIsRefused) {
    MovieSpec spec = TwoTrackMovie();
    Bytes file = BuildMovie(spec);
    // Move the audio chunk offset so the last sample ends one byte past the file.
    mp4::MemoryByteSource src(file);
    auto movie = mp4::MovieFile::Open(src, Factory());
    ASSERT_TRUE(MoveAudioChunkPastEnd(file, movie->InfoOf(movie->Tracks()[1], 1)));
    mp4::MemoryByteSource src2(file);
    movie = mp4::MovieFile::Open(src2, Factory());
    EXPECT_NO_THROW(movie->ReadSample(movie->Tracks()[1], 3));
    EXPECT_THROW(movie->ReadSample(movie->Tracks()[1], 4), mp4::Mp4Error);
}

TEST(MovieFile, TablesThatClaimMoreThanTheFileHoldsAreFound) {
    const Bytes good = BuildMovie(TwoTrackMovie());
    ASSERT_EQ(FitError(good), "");
    // The audio 'stsz' (the second) claims 4,294,967,295 samples of one byte.
    Bytes file = good;
    size_t stsz = PayloadOf(file, "stsz", 1);
    ASSERT_NE(stsz, 0u);
    Set32(file, stsz + 4, 1);
    Set32(file, stsz + 8, 0xFFFFFFFF);
    EXPECT_NE(FitError(file).find("track 2: the sample table claims 4294967295 bytes"),
              std::string::npos)
        << FitError(file);
    // Listed sizes that add up to more than the file: one audio sample of 2 GiB.
    file = good;
    Set32(file, stsz + 12, 0x80000000u);
    EXPECT_NE(FitError(file).find("track 2: the sample table claims"), std::string::npos)
        << FitError(file);

    // A chunk past the end: the second video chunk (64-bit offsets) and the audio chunk.
    file = good;
    const size_t co64 = PayloadOf(file, "co64", 0);
    ASSERT_NE(co64, 0u);
    Set32(file, co64 + 8 + 8, 1);  // the high word: 4 GiB further on
    EXPECT_NE(FitError(file).find("track 1: chunk 2 starts at offset"), std::string::npos)
        << FitError(file);
    file = good;
    const size_t stco = PayloadOf(file, "stco", 0);
    ASSERT_NE(stco, 0u);
    Set32(file, stco + 8, file.size() + 1);
    EXPECT_NE(FitError(file).find("track 2: chunk 1 starts at offset"), std::string::npos)
        << FitError(file);
    // A chunk that starts right at the end is no claim the file cannot meet by
    // itself: its samples fail when read.
    Set32(file, stco + 8, file.size());
    EXPECT_EQ(FitError(file), "");
}

TEST(MovieFile, BrokenStructuresFailToOpen) {
    const MovieSpec good = TwoTrackMovie();
    Bytes file = BuildMovie(good);
    EXPECT_EQ(OpenError(file), "");

    // Truncated file: the moov box now runs past the end.
    EXPECT_NE(OpenError(Bytes(file.begin(), file.end() - 10)).find("runs past its parent"),
              std::string::npos);
    // Only the signature bytes, no boxes.
    EXPECT_NE(OpenError(Bytes{'x', 'x', 'a', 'v', 's', '2'}), "");
    EXPECT_NE(OpenError(Ftyp("avs2", {"avs2"})).find("'moov'"), std::string::npos);
    // A box smaller than its own header.
    Bytes tiny = Ftyp("avs2", {});
    Put32(tiny, 4);
    Put4cc(tiny, "moov");
    EXPECT_NE(OpenError(tiny), "");

    MovieSpec m = good;
    m.tracks[1].drop_stts = true;
    EXPECT_NE(OpenError(BuildMovie(m)).find("'stts'"), std::string::npos);

    m = good;
    m.tracks[0].timescale = 0;
    EXPECT_NE(OpenError(BuildMovie(m)), "");

    // A table that claims more entries than its box holds.
    m = good;
    Bytes f = BuildMovie(m);
    auto pos = std::search(f.begin(), f.end(), std::begin("stsz"), std::end("stsz") - 1);
    ASSERT_NE(pos, f.end());
    // version/flags, sample_size 0, then the count: make it huge.
    Bytes huge;
    Put32(huge, 0x7FFFFFFF);
    std::copy(huge.begin(), huge.end(), pos + 12);
    EXPECT_NE(OpenError(f).find("fewer entries"), std::string::npos);

    // Containers nested without end.
    Bytes nest;
    for (int i = 0; i < 40; ++i) nest = Box("moov", nest);
    EXPECT_NE(OpenError(nest).find("nested"), std::string::npos);
    // The same inside a sample entry, where boxes are parsed from memory.
    MovieSpec deep = good;
    // 100000 levels: deep enough to exhaust the stack without a limit.
    Bytes inner;
    for (uint32_t level = 100000; level > 0; --level) {
        Put32(inner, level * 8);
        Put4cc(inner, "moov");
    }
    deep.tracks[1].entries = {AudioEntry("mp4a", 44100, inner)};
    EXPECT_NE(OpenError(BuildMovie(deep)).find("nested"), std::string::npos);
}

TEST(MovieFile, ZeroAndLargeBoxSizes) {
    // size 0 on the last box: it runs to the end of the file.
    MovieSpec spec = TwoTrackMovie();
    Bytes file = BuildMovie(spec);
    auto moov = std::search(file.begin(), file.end(), std::begin("moov"), std::end("moov") - 1);
    ASSERT_NE(moov, file.end());
    std::fill(moov - 4, moov, 0);
    mp4::MemoryByteSource src(file);
    auto movie = mp4::MovieFile::Open(src, Factory());
    EXPECT_EQ(movie->Tracks().size(), 2u);
    // mdat was written with a 64-bit size; check it is in the tree with its size.
    const mp4::Box* mdat = movie->Root().Child("mdat");
    ASSERT_NE(mdat, nullptr);
    EXPECT_EQ(mdat->HeaderSize(), 16u);
    EXPECT_EQ(mdat->Size(), 16u + 7 * 100 + 21 + 4 * 417);
}

TEST(MovieFile, ReadsASampleIntoTheCallersBufferWithinItsBounds) {
    MovieSpec spec = TwoTrackMovie();
    Bytes file = BuildMovie(spec);
    CountingSource src(file);
    auto movie = mp4::MovieFile::Open(src, Factory());
    const mp4::Track& v = movie->Tracks()[0];

    // Exactly the sample's size and more both work; the bytes past it stay.
    Bytes buffer(106 + 3, 0xEE);
    mp4::SampleInfo info;
    EXPECT_EQ(movie->ReadSampleInto(v, 7, std::span<uint8_t>(buffer.data(), 106), &info), 106u);
    EXPECT_TRUE(
        std::equal(buffer.begin(), buffer.begin() + 106, spec.tracks[0].samples[6].begin()));
    EXPECT_EQ(info.size, 106u);
    EXPECT_EQ(info.start, 4u * 3600 + 2 * 1800);
    EXPECT_EQ(movie->ReadSampleInto(v, 1, buffer), 100u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 100), spec.tracks[0].samples[0]);
    EXPECT_EQ(buffer[106], 0xEE);

    // One byte too small: refused before anything is read or written.
    Bytes small(105, 0xEE);
    const int before = src.reads;
    try {
        movie->ReadSampleInto(v, 7, small);
        ADD_FAILURE() << "a buffer too small was accepted";
    } catch (const mp4::Mp4Error& e) {
        EXPECT_NE(std::string(e.what()).find("needs 106 bytes"), std::string::npos) << e.what();
    }
    EXPECT_EQ(src.reads, before);
    EXPECT_EQ(small, Bytes(105, 0xEE));
    EXPECT_THROW(movie->ReadSampleInto(v, 1, std::span<uint8_t>()), mp4::Mp4Error);
    EXPECT_THROW(movie->ReadSampleInto(v, 0, buffer), mp4::Mp4Error);
    EXPECT_THROW(movie->ReadSampleInto(v, 8, buffer), mp4::Mp4Error);

    // A sample whose data lies past the end of the file.
    ASSERT_TRUE(MoveAudioChunkPastEnd(file, movie->InfoOf(movie->Tracks()[1], 1)));
    mp4::MemoryByteSource src2(file);
    movie = mp4::MovieFile::Open(src2, Factory());
    Bytes frame(417);
    EXPECT_EQ(movie->ReadSampleInto(movie->Tracks()[1], 3, frame), 417u);
    try {
        movie->ReadSampleInto(movie->Tracks()[1], 4, frame);
        ADD_FAILURE() << "a sample past the end of the file was read";
    } catch (const mp4::Mp4Error& e) {
        EXPECT_NE(std::string(e.what()).find("past the end"), std::string::npos) << e.what();
    }
}
