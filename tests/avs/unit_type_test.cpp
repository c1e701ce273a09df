#include "avs/unit_type.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "avs/bitstream.h"
#include "avs/picture_state.h"
#include "avs/start_code.h"
#include "synthetic_avs.h"

using namespace avs;

namespace {
AvsUnitType classify(uint8_t code, uint8_t byte6) {
    const uint8_t u[] = {0, 0, 1, code, 0xFF, 0xFF, byte6};
    return classify_unit(u, sizeof u);
}
}  // namespace

TEST(UnitType, ClassesFromStartCodeAndPictureCodingType) {
    EXPECT_EQ(classify(0xB0, 0), AvsUnitType::SequenceHeader);
    EXPECT_EQ(classify(0xB5, 0), AvsUnitType::Extension);
    EXPECT_EQ(classify(0xB2, 0), AvsUnitType::UserData);
    EXPECT_EQ(classify(0xB7, 0), AvsUnitType::VideoEdit);
    EXPECT_EQ(classify(0xB3, 0), AvsUnitType::IPicture);
    EXPECT_EQ(classify(0xB6, 0x40), AvsUnitType::PPicture);
    EXPECT_EQ(classify(0xB6, 0x7F), AvsUnitType::PPicture);
    EXPECT_EQ(classify(0xB6, 0x80), AvsUnitType::BPicture);
    EXPECT_EQ(static_cast<int>(classify(0xB6, 0x00)), 0xB6);
    EXPECT_EQ(static_cast<int>(classify(0xB6, 0xC0)), 0xB6);
    EXPECT_EQ(classify(0x00, 0), AvsUnitType::Slice);
    EXPECT_EQ(classify(0xAF, 0), AvsUnitType::Slice);
    EXPECT_EQ(static_cast<int>(classify(0xB1, 0)), 0xB1);
    EXPECT_EQ(static_cast<int>(classify(0xB4, 0)), 0xB4);
    EXPECT_EQ(static_cast<int>(classify(0xFF, 0)), 0xFF);
    // Short units: missing bytes count as zero instead of being read.
    const uint8_t pb[] = {0, 0, 1, 0xB6, 0xFF};
    EXPECT_EQ(static_cast<int>(classify_unit(pb, sizeof pb)), 0xB6);
    EXPECT_EQ(classify_unit(pb, 3), AvsUnitType::Slice);
    EXPECT_TRUE(is_picture_or_slice(AvsUnitType::IPicture));
    EXPECT_TRUE(is_picture_or_slice(AvsUnitType::Slice));
    EXPECT_FALSE(is_picture_or_slice(AvsUnitType::SequenceHeader));
    EXPECT_FALSE(is_picture_or_slice(static_cast<AvsUnitType>(0xB6)));
}

TEST(UnitType, ExamineUnitMarksAccessUnitStarts) {
    AvsPictureState st;
    std::mt19937 rng(1);
    std::vector<uint8_t> seq = synthetic::sequence_header({});
    EXPECT_EQ(examine_unit(seq.data(), seq.size(), st), UnitResult::StartsNew);
    EXPECT_EQ(st.type, AvsUnitType::SequenceHeader);
    EXPECT_EQ(st.header.horizontal_size, 352);
    std::vector<uint8_t> pic = synthetic::pb_picture_header(2);
    EXPECT_EQ(examine_unit(pic.data(), pic.size(), st), UnitResult::StartsNew);
    EXPECT_EQ(st.type, AvsUnitType::BPicture);
    std::vector<uint8_t> sl = synthetic::slice(3, 40, rng);
    EXPECT_EQ(examine_unit(sl.data(), sl.size(), st), UnitResult::Continues);
    EXPECT_EQ(st.type, AvsUnitType::Slice);
    // A slice without a 1 bit, or with no body at all, fails to parse.
    const uint8_t zero_slice[] = {0, 0, 1, 0x05, 0x00, 0x00};
    EXPECT_EQ(examine_unit(zero_slice, sizeof zero_slice, st), UnitResult::ParseFailed);
    EXPECT_EQ(examine_unit(zero_slice, 4, st), UnitResult::ParseFailed);
    // Truncated sequence header fails; a bad frame rate is reported as such.
    EXPECT_EQ(examine_unit(seq.data(), 10, st), UnitResult::ParseFailed);
    synthetic::SequenceFields f;
    f.frame_rate_code = 0;
    std::vector<uint8_t> bad = synthetic::sequence_header(f);
    EXPECT_EQ(examine_unit(bad.data(), bad.size(), st), UnitResult::BadFrameRate);
    const uint8_t other[] = {0, 0, 1, 0xB6, 0, 0, 0xC0};
    EXPECT_EQ(examine_unit(other, sizeof other, st), UnitResult::StartsNew);
}

TEST(UnitType, SliceParseResultMatchesFullScratchDecode) {
    // examine_unit settles most slices from their first bytes; it must agree with reading
    // the code from the whole emulation-free scratch of up to 512 bytes.
    auto full = [](const std::vector<uint8_t>& unit) {
        uint8_t scratch[kSliceScratch];
        size_t body = unit.size() > 4 ? std::min(unit.size() - 4, kSliceScratch) : 0;
        size_t n = remove_emulation_bytes(unit.data() + 4, body, scratch, sizeof scratch);
        Bitstream bs(scratch, static_cast<uint32_t>(n * 8));
        try {
            bs.read_ue();
            return UnitResult::Continues;
        } catch (const BitstreamError&) {
            return UnitResult::ParseFailed;
        }
    };
    std::mt19937 rng(12);
    int failures = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> unit{0, 0, 1, static_cast<uint8_t>(rng() % 0xB0)};
        size_t zeros = rng() % 12;
        size_t len = rng() % 40;
        for (size_t i = 0; i < zeros + len; ++i) {
            uint32_t r = rng() % 10;
            unit.push_back(i < zeros || r < 5 ? 0 : r < 7 ? 3 : static_cast<uint8_t>(rng()));
        }
        AvsPictureState st;
        UnitResult got = examine_unit(unit.data(), unit.size(), st);
        ASSERT_EQ(got, full(unit)) << "round " << round;
        failures += got == UnitResult::ParseFailed;
    }
    EXPECT_GT(failures, 100);  // both outcomes were exercised
}
