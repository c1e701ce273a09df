#include "filesource/avs_container.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "filesource/avs_boxes.h"
#include "filesource/unpack.h"
#include "tests/mp4/movie_builder.h"

using namespace testing_mp4;
using filesource::AvsContainer;
using filesource::TrackSample;

namespace {

Bytes unit(uint8_t code, size_t body_size, uint8_t fill) {
    Bytes b;
    Put32(b, static_cast<uint32_t>(body_size + 2));
    Put8(b, 0);
    Put8(b, code);
    b.insert(b.end(), body_size, fill);
    return b;
}

// Video samples: header + I picture, then P pictures with slices.
TrackSpec video_track(uint32_t samples = 5) {
    TrackSpec v;
    v.id = 1;
    v.handler = "vide";
    v.timescale = 240000;
    const Bytes header{0xB0, 0x20, 0x40, 0x12, 0x34};
    v.entries = {VisualEntry("avs2", Avss(header))};
    for (uint32_t i = 0; i < samples; ++i) {
        Bytes s;
        if (i == 0) Append(s, unit(0xB0, 14, 0x11));
        Append(s, unit(i == 0 ? 0xB3 : 0xB6, 4, uint8_t(i)));
        Append(s, unit(0x00, 20 + i, uint8_t(0x80 + i)));
        v.samples.push_back(s);
        v.durations.push_back(9600);
    }
    return v;
}

TrackSpec audio_track(uint32_t id, uint32_t samples = 6) {
    TrackSpec a;
    a.id = id;
    a.handler = "soun";
    a.timescale = 44100;
    a.entries = {AudioEntry("mp4a", 48000, {})};
    for (uint32_t i = 0; i < samples; ++i) {
        a.samples.push_back(Bytes(417 + i, uint8_t(i)));
        a.durations.push_back(1152);
    }
    a.sync = std::vector<uint32_t>{1, 3, 5};
    return a;
}

std::unique_ptr<AvsContainer> open_bytes(const Bytes& file, std::string* errors = nullptr) {
    auto src = std::make_shared<mp4::MemoryByteSource>(file);
    return AvsContainer::open(src, [errors](const std::string& m) {
        if (errors) *errors += m + "\n";
    });
}

Bytes expected_unpacked(const Bytes& stored) {
    Bytes out;
    EXPECT_TRUE(filesource::unpack_video_sample(stored, out));
    return out;
}

}  // namespace

TEST(AvsContainer, ReadsVideoUnpackedAndAudioAsStored) {
    MovieSpec m;
    m.timescale = 1000;
    m.duration = 200;
    m.tracks = {video_track(), audio_track(2)};
    Bytes file = BuildMovie(m);
    // Keep the backing bytes alive for the container's lifetime.
    auto c = open_bytes(file);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->track_count("vide"), 1u);
    EXPECT_EQ(c->track_count("soun"), 1u);
    EXPECT_EQ(c->first_track_id("vide"), 1u);
    EXPECT_EQ(c->first_track_id("soun"), 2u);
    EXPECT_EQ(c->first_track_id("hint"), 0u);
    EXPECT_EQ(c->sample_entry_type(1), "avs2");
    EXPECT_EQ(c->sample_entry_type(2), "mp4a");
    EXPECT_EQ(c->sample_count(1), 5u);
    EXPECT_EQ(c->track_timescale(2), 44100u);  // the table's unit, not the entry's rate
    EXPECT_EQ(c->movie_timescale(), 1000u);
    EXPECT_EQ(c->duration_100ns(), 2000000);
    EXPECT_EQ(c->modification_time(), 1234u);

    const auto* entry = dynamic_cast<const filesource::AvsSampleEntry*>(
        c->movie().FindTrack(1)->Descriptions().Entry(1));
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->avs_config(), nullptr);
    EXPECT_EQ(entry->avs_config()->sequence_headers.size(), 1u);
    EXPECT_EQ(entry->compressor_name, "AVS1-P2 Coding");

    for (uint64_t n = 1; n <= 5; ++n) {
        TrackSample s;
        ASSERT_TRUE(c->read_track_sample(1, n, s)) << n;
        EXPECT_EQ(s.bytes, expected_unpacked(m.tracks[0].samples[n - 1]));
        EXPECT_EQ(s.length, s.bytes.size());
        // 9600 / 240000 s per picture, converted in double and truncated.
        EXPECT_EQ(s.start, int64_t(double((n - 1) * 9600) / 240000.0 * 1e7));
        EXPECT_EQ(s.stop, int64_t(9600.0 / 240000.0 * 1e7 + double(s.start)));
        EXPECT_TRUE(s.sync);
        EXPECT_EQ(s.bytes[3], n == 1 ? 0xB0 : 0xB6);
    }
    for (uint64_t n = 1; n <= 6; ++n) {
        TrackSample s;
        ASSERT_TRUE(c->read_track_sample(2, n, s));
        EXPECT_EQ(s.bytes, m.tracks[1].samples[n - 1]);
        EXPECT_EQ(s.sync, n % 2 == 1);
        EXPECT_EQ(s.start, int64_t(double((n - 1) * 1152) / 44100.0 * 1e7));
    }
}

TEST(AvsContainer, FailedReadsReportAndNeverThrow) {
    MovieSpec m;
    m.duration = 200;
    TrackSpec v = video_track(4);
    v.samples[1] = unit(0xB6, 4, 1);
    v.samples[1].resize(v.samples[1].size() - 1);  // last unit runs past the end
    v.samples[2] = {};                             // zero bytes
    v.samples[3] = unit(0xB6, 4, 1);
    Append(v.samples[3], Bytes{0, 0, 0, 0, 0});  // a unit with L = 0
    m.tracks = {v};
    Bytes file = BuildMovie(m);
    std::string errors;
    auto c = open_bytes(file, &errors);
    ASSERT_TRUE(c);
    TrackSample s;
    EXPECT_TRUE(c->read_track_sample(1, 1, s));
    EXPECT_FALSE(c->read_track_sample(1, 2, s));
    EXPECT_EQ(s.length, filesource::kInvalidSampleLength);
    EXPECT_TRUE(s.bytes.empty());
    EXPECT_FALSE(c->read_track_sample(1, 3, s));
    EXPECT_EQ(s.length, 0u);
    EXPECT_FALSE(c->read_track_sample(1, 4, s));
    EXPECT_EQ(s.length, filesource::kInvalidSampleLength);
    EXPECT_FALSE(c->read_track_sample(1, 0, s));
    EXPECT_EQ(s.length, 0u);
    EXPECT_FALSE(c->read_track_sample(1, 5, s));
    EXPECT_FALSE(c->read_track_sample(7, 1, s));
    EXPECT_EQ(c->sample_count(7), 0u);
    EXPECT_EQ(c->track_timescale(7), 0u);
    EXPECT_FALSE(c->sample_entry_type(7));
    EXPECT_NE(errors.find("out of range"), std::string::npos);
}

TEST(AvsContainer, SampleEntriesTheFilterMustRefuse) {
    // Two sample entries: no single entry type.
    MovieSpec m;
    m.tracks = {video_track(2)};
    m.tracks[0].entries.push_back(m.tracks[0].entries[0]);
    Bytes file = BuildMovie(m);
    auto c = open_bytes(file);
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->sample_entry_type(1));

    // "avs2" without its avss box is a broken entry: the file does not open.
    m.tracks[0].entries = {VisualEntry("avs2", {})};
    Bytes no_config = BuildMovie(m);
    std::string errors;
    EXPECT_FALSE(open_bytes(no_config, &errors));
    EXPECT_NE(errors.find("'avss'"), std::string::npos);

    // AVS-M entries with avsc and btrt are read.
    Bytes avsc;
    for (uint8_t b : {1, 2, 3, 0xFF, 0xE1, 0, 2, 0xAA, 0xBB, 1, 0, 1, 0xCC}) Put8(avsc, b);
    Bytes btrt;
    Put32(btrt, 1000);
    Put32(btrt, 2000);
    Put32(btrt, 1500);
    Bytes children = Box("avsc", avsc);
    Append(children, Box("btrt", btrt));
    m.tracks[0].entries = {VisualEntry("avs1", children)};
    Bytes avsm = BuildMovie(m);
    c = open_bytes(avsm);
    ASSERT_TRUE(c);
    const auto* entry = dynamic_cast<const filesource::AvsSampleEntry*>(
        c->movie().FindTrack(1)->Descriptions().Entry(1));
    ASSERT_TRUE(entry && entry->avsm_config() && entry->bit_rate());
    EXPECT_EQ(entry->avsm_config()->sequence_parameter_sets[0], (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(entry->avsm_config()->picture_parameter_sets[0], (Bytes{0xCC}));
    EXPECT_EQ(entry->bit_rate()->avg_bitrate, 1500u);
    TrackSample s;
    EXPECT_TRUE(c->read_track_sample(1, 1, s));

    // An avsc whose entries run past the box.
    Bytes bad = Box("avsc", Bytes{1, 2, 3, 0xFF, 0xE1, 0, 9, 0xAA});
    m.tracks[0].entries = {VisualEntry("avsp", bad)};
    Bytes broken = BuildMovie(m);
    EXPECT_FALSE(open_bytes(broken));
}

TEST(AvsContainer, AudioOnlyAndEmptyContainersOpen) {
    MovieSpec m;
    m.tracks = {audio_track(5)};
    Bytes file = BuildMovie(m);
    auto c = open_bytes(file);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->track_count("vide"), 0u);
    EXPECT_EQ(c->first_track_id("vide"), 0u);
    EXPECT_EQ(c->first_track_id("soun"), 5u);

    m.tracks.clear();
    Bytes empty = BuildMovie(m);
    c = open_bytes(empty);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->track_count("vide") + c->track_count("soun"), 0u);
}

namespace {
// Gives other threads a chance between setting the position and reading, as
// a slow upstream reader would.
class YieldingSource : public mp4::MemoryByteSource {
  public:
    using mp4::MemoryByteSource::MemoryByteSource;
    void Seek(uint64_t p) override {
        mp4::MemoryByteSource::Seek(p);
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
};
}  // namespace

// Worker threads of both streams share the container and its byte position:
// every read must still get its own sample's bytes.
TEST(AvsContainer, ConcurrentReadsGetTheirOwnSamples) {
    MovieSpec m;
    m.tracks = {video_track(40), audio_track(2, 60)};
    Bytes file = BuildMovie(m);
    // Without read-ahead every sample read reaches the shared source; with it,
    // the window itself is the shared state.
    for (size_t window : {size_t{0}, size_t{256}}) {
        auto c = AvsContainer::open(std::make_shared<YieldingSource>(file), nullptr, window);
        ASSERT_TRUE(c);
        std::atomic<int> wrong{0};
        auto reader = [&](uint32_t track, uint32_t count, const std::vector<Bytes>& want,
                          bool video) {
            for (int round = 0; round < 5; ++round)
                for (uint32_t n = 1; n <= count; ++n) {
                    TrackSample s;
                    if (!c->read_track_sample(track, n, s) ||
                        s.bytes != (video ? expected_unpacked(want[n - 1]) : want[n - 1]))
                        ++wrong;
                }
        };
        std::thread a(reader, 1, 40, std::cref(m.tracks[0].samples), true);
        std::thread b(reader, 2, 60, std::cref(m.tracks[1].samples), false);
        a.join();
        b.join();
        EXPECT_EQ(wrong.load(), 0) << window;
    }
}

TEST(AvsContainer, ReferenceTimesSaturateInsteadOfOverflowing) {
    EXPECT_EQ(filesource::to_reference_time(3600, 90000), 400000);
    EXPECT_EQ(filesource::to_reference_time(1e30, 1), INT64_MAX);
    EXPECT_EQ(filesource::to_reference_time(5, 0), 0);
}

TEST(AvsContainer, ReadsStoredSamplesStraightIntoACallersBuffer) {
    MovieSpec m;
    m.duration = 200;
    TrackSpec v = video_track(3);
    v.samples[2] = {};  // zero bytes
    m.tracks = {v, audio_track(2)};
    Bytes file = BuildMovie(m);
    std::string errors;
    auto c = open_bytes(file, &errors);
    ASSERT_TRUE(c);
    using Read = AvsContainer::DirectRead;

    // Read into a larger buffer and unpacked there: the same as the copying path.
    const Bytes& stored = m.tracks[0].samples[0];
    Bytes buffer(stored.size() + 8, 0xEE);
    TrackSample s;
    s.stored = {1, 2};
    ASSERT_EQ(c->read_stored_sample_into(1, 1, buffer, s), Read::kRead);
    EXPECT_EQ(s.length, stored.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + s.length), stored);
    EXPECT_EQ(buffer[s.length], 0xEE);
    EXPECT_EQ(s.stored, (Bytes{1, 2}));  // left alone
    EXPECT_TRUE(s.sync);
    const auto n = filesource::unpack_video_sample_in_place(std::span(buffer.data(), s.length));
    ASSERT_TRUE(n);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + *n), expected_unpacked(stored));

    // Audio, into a buffer of exactly its size, with its times and sync flag.
    Bytes frame(418);
    ASSERT_EQ(c->read_stored_sample_into(2, 2, frame, s), Read::kRead);
    EXPECT_EQ(frame, m.tracks[1].samples[1]);
    EXPECT_FALSE(s.sync);
    EXPECT_EQ(s.start, int64_t(1152.0 / 44100.0 * 1e7));

    // One byte too small: nothing read, nothing reported, the size and times given.
    Bytes small(418, 0xEE);
    ASSERT_EQ(c->read_stored_sample_into(2, 3, std::span(small.data(), 418), s), Read::kTooLarge);
    EXPECT_EQ(s.length, 419u);
    EXPECT_TRUE(s.sync);
    EXPECT_EQ(s.start, int64_t(2 * 1152.0 / 44100.0 * 1e7));
    EXPECT_EQ(small, Bytes(418, 0xEE));
    EXPECT_TRUE(errors.empty()) << errors;

    // Faults: reported, never thrown, and the previous sample's values cleared.
    EXPECT_EQ(c->read_stored_sample_into(1, 3, buffer, s), Read::kFailed);  // zero bytes
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(c->read_stored_sample_into(1, 0, buffer, s), Read::kFailed);
    EXPECT_EQ(c->read_stored_sample_into(1, 4, buffer, s), Read::kFailed);
    EXPECT_EQ(c->read_stored_sample_into(9, 1, buffer, s), Read::kFailed);
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(s.start, 0);
    EXPECT_NE(errors.find("refused"), std::string::npos);
    EXPECT_NE(errors.find("out of range"), std::string::npos);
    EXPECT_NE(errors.find("no track with id 9"), std::string::npos);
}

TEST(AvsContainer, DirectReadOfASamplePastTheEndOfTheFileFails) {
    MovieSpec m;
    m.duration = 200;
    m.tracks = {audio_track(2, 4)};
    Bytes file = BuildMovie(m);
    // Move the chunk (the one entry of 'stco') so that its last sample ends one
    // byte past the file.
    const uint64_t chunk = 417 + 418 + 419 + 420;
    const Bytes tag{'s', 't', 'c', 'o'};
    auto it = std::search(file.begin(), file.end(), tag.begin(), tag.end());
    ASSERT_NE(it, file.end());
    it += 4 + 4 + 4;  // the type, version and flags, entry count
    Bytes moved;
    Put32(moved, static_cast<uint32_t>(file.size() - chunk + 1));
    std::copy(moved.begin(), moved.end(), it);
    std::string errors;
    auto c = open_bytes(file, &errors);
    ASSERT_TRUE(c);
    Bytes buffer(4096);
    TrackSample s;
    EXPECT_EQ(c->read_stored_sample_into(2, 3, buffer, s), AvsContainer::DirectRead::kRead);
    EXPECT_EQ(c->read_stored_sample_into(2, 4, buffer, s), AvsContainer::DirectRead::kFailed);
    EXPECT_EQ(s.length, 0u);
    EXPECT_NE(errors.find("past the end of the file"), std::string::npos) << errors;
}

TEST(AvsContainer, TablesThatClaimMoreThanTheFileHoldsAreRefusedAtOpen) {
    MovieSpec m;
    m.duration = 200;
    m.tracks = {audio_track(2, 4)};
    Bytes file = BuildMovie(m);
    // 'stsz' with a fixed size of one byte for 4,294,967,295 samples.
    const Bytes tag{'s', 't', 's', 'z'};
    auto it = std::search(file.begin(), file.end(), tag.begin(), tag.end());
    ASSERT_NE(it, file.end());
    const Bytes claim{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF};
    std::copy(claim.begin(), claim.end(), it + 4 + 4);
    std::string errors;
    EXPECT_FALSE(open_bytes(file, &errors));
    EXPECT_EQ(errors,
              "track 2: the sample table claims 4294967295 bytes of samples, more than the "
              "file's " +
                  std::to_string(file.size()) + "\n");
}

TEST(AvsContainer, AMessageRepeatedForManySamplesIsPrintedOnlyAFewTimes) {
    MovieSpec m;
    m.duration = 200;
    m.tracks = {audio_track(2, 40)};
    m.tracks[0].samples_per_chunk = 4;
    Bytes file = BuildMovie(m);
    // Chunks 3 to 10 start at the file's end, so samples 9 to 40 lie past it.
    const Bytes tag{'s', 't', 'c', 'o'};
    auto it = std::search(file.begin(), file.end(), tag.begin(), tag.end());
    ASSERT_NE(it, file.end());
    it += 4 + 4 + 4 + 2 * 4;  // the type, version and flags, entry count, chunks 1 and 2
    for (int chunk = 3; chunk <= 10; ++chunk, it += 4) {
        Bytes end;
        Put32(end, static_cast<uint32_t>(file.size()));
        std::copy(end.begin(), end.end(), it);
    }
    std::string errors;
    auto c = open_bytes(file, &errors);
    ASSERT_TRUE(c) << errors;
    TrackSample s;
    for (uint64_t n = 1; n <= 40; ++n) EXPECT_EQ(n <= 8, c->read_track_sample(2, n, s)) << n;
    auto lines_with = [&errors](const std::string& what) {
        int n = 0;
        for (size_t at = errors.find(what); at != std::string::npos; at = errors.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(AvsContainer::kRepeatedMessageLimit, lines_with("past the end of the file"))
        << errors;
    EXPECT_NE(errors.find("sample 9 lies past"), std::string::npos) << errors;
    EXPECT_EQ(1, lines_with("further messages like the last one are suppressed")) << errors;
    // Another kind of message still gets through.
    EXPECT_FALSE(c->read_track_sample(2, 41, s));
    EXPECT_EQ(1, lines_with("sample 41 is out of range")) << errors;
}
