// The AVS sample entries ("avs2", "avs1", "avsp") and their boxes ("avss",
// "avsc", "btrt"), added to the standard box factory.
#pragma once

#include <cstdint>
#include <vector>

#include "mp4/box.h"
#include "mp4/sample_entry.h"

namespace filesource {

// avss: AVS1-P2 decoder configuration.
class AvsDecoderConfigBox : public mp4::Box {
  public:
    void Parse(mp4::Cursor& payload, const mp4::BoxFactory& factory) override;
    uint8_t configuration_version = 0;
    uint8_t profile_indication = 0;
    uint8_t level_indication = 0;
    uint8_t length_size_minus_one = 0;
    std::vector<std::vector<uint8_t>> sequence_headers;
};

// avsc: AVS-M decoder configuration.
class AvsmDecoderConfigBox : public mp4::Box {
  public:
    void Parse(mp4::Cursor& payload, const mp4::BoxFactory& factory) override;
    uint8_t configuration_version = 0;
    uint8_t profile_indication = 0;
    uint8_t level_indication = 0;
    uint8_t length_size_minus_one = 0;
    std::vector<std::vector<uint8_t>> sequence_parameter_sets;
    std::vector<std::vector<uint8_t>> picture_parameter_sets;
};

// btrt: buffer size and bit rates.
class BitRateBox : public mp4::Box {
  public:
    void Parse(mp4::Cursor& payload, const mp4::BoxFactory& factory) override;
    uint32_t buffer_size_db = 0;
    uint32_t max_bitrate = 0;
    uint32_t avg_bitrate = 0;
};

// avs2 (with avss), avs1 and avsp (with avsc): visual sample entries whose
// configuration box is required.
class AvsSampleEntry : public mp4::VisualSampleEntry {
  public:
    void Parse(mp4::Cursor& payload, const mp4::BoxFactory& factory) override;
    // Null when the entry has no such box (avs2 has no avsc and so on).
    const AvsDecoderConfigBox* avs_config() const { return ChildAs<AvsDecoderConfigBox>("avss"); }
    const AvsmDecoderConfigBox* avsm_config() const {
        return ChildAs<AvsmDecoderConfigBox>("avsc");
    }
    const BitRateBox* bit_rate() const { return ChildAs<BitRateBox>("btrt"); }
};

// The standard boxes plus the AVS ones.
mp4::BoxFactory avs_box_factory();

}  // namespace filesource
