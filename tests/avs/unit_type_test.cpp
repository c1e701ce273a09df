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
AvsUnitType Classify(uint8_t code, uint8_t byte6) {
    const uint8_t u[] = {0, 0, 1, code, 0xFF, 0xFF, byte6};
    return classify_unit(u, sizeof u);
}
}  // namespace

TEST(UnitType, ClassesFromStartCodeAndPictureCodingType) {
    EXPECT_EQ(Classify(0xB0, 0), AvsUnitType::kSequenceHeader);
    EXPECT_EQ(Classify(0xB5, 0), AvsUnitType::kExtension);
    EXPECT_EQ(Classify(0xB2, 0), AvsUnitType::kUserData);
    EXPECT_EQ(Classify(0xB7, 0), AvsUnitType::kVideoEdit);
    EXPECT_EQ(Classify(0xB3, 0), AvsUnitType::kIPicture);
    EXPECT_EQ(Classify(0xB6, 0x40), AvsUnitType::kPPicture);
    EXPECT_EQ(Classify(0xB6, 0x7F), AvsUnitType::kPPicture);
    EXPECT_EQ(Classify(0xB6, 0x80), AvsUnitType::kBPicture);
    EXPECT_EQ(static_cast<int>(Classify(0xB6, 0x00)), 0xB6);
    EXPECT_EQ(static_cast<int>(Classify(0xB6, 0xC0)), 0xB6);
    EXPECT_EQ(Classify(0x00, 0), AvsUnitType::kSlice);
    EXPECT_EQ(Classify(0xAF, 0), AvsUnitType::kSlice);
    EXPECT_EQ(static_cast<int>(Classify(0xB1, 0)), 0xB1);
    EXPECT_EQ(static_cast<int>(Classify(0xB4, 0)), 0xB4);
    EXPECT_EQ(static_cast<int>(Classify(0xFF, 0)), 0xFF);
    // Short units: missing bytes count as zero instead of being read.
    const uint8_t pb[] = {0, 0, 1, 0xB6, 0xFF};
    EXPECT_EQ(static_cast<int>(classify_unit(pb, sizeof pb)), 0xB6);
    EXPECT_EQ(classify_unit(pb, 3), AvsUnitType::kSlice);
    EXPECT_TRUE(IsPictureOrSlice(AvsUnitType::kIPicture));
    EXPECT_TRUE(IsPictureOrSlice(AvsUnitType::kSlice));
    EXPECT_FALSE(IsPictureOrSlice(AvsUnitType::kSequenceHeader));
    EXPECT_FALSE(IsPictureOrSlice(static_cast<AvsUnitType>(0xB6)));
}

TEST(UnitType, ExamineUnitMarksAccessUnitStarts) {
    AvsPictureState st;
    std::mt19937 rng(1);
    std::vector<uint8_t> seq = synthetic::SequenceHeader({});
    EXPECT_EQ(examine_unit(seq.data(), seq.size(), st), UnitResult::kStartsNew);
    EXPECT_EQ(st.type, AvsUnitType::kSequenceHeader);
    EXPECT_EQ(st.header.horizontal_size, 352);
    std::vector<uint8_t> pic = synthetic::PbPictureHeader(2);
    EXPECT_EQ(examine_unit(pic.data(), pic.size(), st), UnitResult::kStartsNew);
    EXPECT_EQ(st.type, AvsUnitType::kBPicture);
    std::vector<uint8_t> sl = synthetic::Slice(3, 40, rng);
    EXPECT_EQ(examine_unit(sl.data(), sl.size(), st), UnitResult::kContinues);
    EXPECT_EQ(st.type, AvsUnitType::kSlice);
    // A slice without a 1 bit, or with no body at all, fails to parse.
    const uint8_t zero_slice[] = {0, 0, 1, 0x05, 0x00, 0x00};
    EXPECT_EQ(examine_unit(zero_slice, sizeof zero_slice, st), UnitResult::kParseFailed);
    EXPECT_EQ(examine_unit(zero_slice, 4, st), UnitResult::kParseFailed);
    // Truncated sequence header fails; a bad frame rate is reported as such.
    EXPECT_EQ(examine_unit(seq.data(), 10, st), UnitResult::kParseFailed);
    synthetic::SequenceFields f;
    f.frame_rate_code = 0;
    std::vector<uint8_t> bad = synthetic::SequenceHeader(f);
    EXPECT_EQ(examine_unit(bad.data(), bad.size(), st), UnitResult::kBadFrameRate);
    const uint8_t other[] = {0, 0, 1, 0xB6, 0, 0, 0xC0};
    EXPECT_EQ(examine_unit(other, sizeof other, st), UnitResult::kStartsNew);
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
            return UnitResult::kContinues;
        } catch (const BitstreamError&) {
            return UnitResult::kParseFailed;
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
        failures += got == UnitResult::kParseFailed;
    }
    EXPECT_GT(failures, 100);  // both outcomes were exercised
}
