#include <gtest/gtest.h>

#include "filesource/signature.h"
#include "filesource/unpack.h"
#include "tests/mp4/movie_builder.h"

using namespace testing_mp4;
using filesource::unpack_video_sample;

namespace {
Bytes unit(uint32_t length, uint8_t header, const Bytes& body) {
    Bytes b;
    Put32(b, length);
    Put8(b, header);
    Append(b, body);
    return b;
}
}  // namespace

TEST(UnpackVideoSample, UnitsBecomeStartCodeForm) {
    Bytes stored = unit(5, 0x42, {0xB0, 1, 2, 3});
    Append(stored, unit(3, 0x00, {0xB3, 9}));
    Append(stored, unit(1, 0x77, {}));
    Bytes out{1, 2, 3};
    ASSERT_TRUE(unpack_video_sample(stored, out));
    EXPECT_EQ(out, (Bytes{0, 0, 1, 0xB0, 1, 2, 3, 0, 0, 1, 0xB3, 9, 0, 0, 1}));

    // One unit with L = 1 is just a prefix.
    ASSERT_TRUE(unpack_video_sample(unit(1, 0, {}), out));
    EXPECT_EQ(out, (Bytes{0, 0, 1}));
}

TEST(UnpackVideoSample, UnitsThatDoNotFitAreRefused) {
    const Bytes good = unit(3, 0, {0xB3, 1});
    Bytes out;
    // L = 0 anywhere.
    Bytes zero = good;
    Append(zero, unit(0, 0, {}));
    Append(zero, good);
    EXPECT_FALSE(unpack_video_sample(zero, out));
    EXPECT_TRUE(out.empty());
    // The last unit's body runs one byte past the end.
    Bytes past = good;
    Append(past, unit(4, 0, {0xB6, 1}));
    EXPECT_FALSE(unpack_video_sample(past, out));
    // A length field cut short after the last unit.
    Bytes cut = good;
    Append(cut, Bytes{0, 0, 1});
    EXPECT_FALSE(unpack_video_sample(cut, out));
    // A huge length must not wrap around.
    EXPECT_FALSE(unpack_video_sample(unit(0xFFFFFFFF, 0, {0xB3}), out));
    EXPECT_FALSE(unpack_video_sample(unit(0xFFFFFFFC, 0, {0xB3}), out));
    // Nothing is read beyond the stored bytes: a view of part of a buffer.
    Bytes buffer = good;
    Append(buffer, unit(3, 0, {0xB6, 2}));
    EXPECT_FALSE(
        unpack_video_sample(std::span<const uint8_t>(buffer.data(), buffer.size() - 1), out));
    EXPECT_TRUE(unpack_video_sample(std::span<const uint8_t>(buffer.data(), good.size()), out));
}

namespace {
bool signed_file(const Bytes& b) {
    mp4::MemoryByteSource src(b);
    return filesource::has_avs_signature(src);
}
}  // namespace

TEST(Signature, FoundOnlyAtOffsetsZeroToTwentyOne) {
    Bytes file = Ftyp("avs2", {"avs2", "isom"});
    file.resize(64, 0);
    EXPECT_TRUE(signed_file(file));

    for (size_t at : {size_t{0}, size_t{13}, size_t{21}, size_t{22}, size_t{23}}) {
        Bytes b(40, 'x');
        std::copy_n("avs2", 4, b.begin() + at);
        EXPECT_EQ(signed_file(b), at <= 21) << at;
    }

    // Another major brand with "avs2" as the third compatible brand: offset 24.
    Bytes other = Ftyp("isom", {"isom", "mp41", "avs2"});
    other.resize(64, 0);
    EXPECT_FALSE(signed_file(other));

    // Shorter than 25 bytes, even with the brand in place.
    EXPECT_FALSE(signed_file(Bytes(file.begin(), file.begin() + 24)));
    EXPECT_TRUE(signed_file(Bytes(file.begin(), file.begin() + 25)));
}

TEST(UnpackVideoSample, InPlaceMatchesTheCopyAndLeavesBadSamplesAlone) {
    // Units of several sizes, the smallest first so that bodies overlap their new place.
    Bytes stored = unit(1, 0x77, {});
    Append(stored, unit(5, 0x42, {0xB0, 1, 2, 3}));
    Append(stored, unit(3, 0x00, {0xB3, 9}));
    Bytes big_body(300);
    for (size_t i = 0; i < big_body.size(); ++i) big_body[i] = uint8_t(i * 7 + 1);
    Append(stored, unit(301, 0x00, big_body));
    Bytes expected;
    ASSERT_TRUE(unpack_video_sample(stored, expected));

    Bytes buffer = stored;
    buffer.push_back(0xEE);  // the delivery buffer is usually larger than the sample
    const auto n =
        filesource::unpack_video_sample_in_place(std::span(buffer.data(), stored.size()));
    ASSERT_TRUE(n);
    EXPECT_EQ(*n, expected.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + *n), expected);
    EXPECT_EQ(buffer.back(), 0xEE);

    // A unit that does not fit: nothing is changed.
    Bytes bad = stored;
    Append(bad, unit(4, 0, {0xB6, 1}));
    Bytes before = bad;
    EXPECT_FALSE(filesource::unpack_video_sample_in_place(bad));
    EXPECT_EQ(bad, before);
    Bytes zero = unit(0, 0, {});
    EXPECT_FALSE(filesource::unpack_video_sample_in_place(zero));
    EXPECT_EQ(filesource::unpack_video_sample_in_place(std::span<uint8_t>()), size_t{0});
}
