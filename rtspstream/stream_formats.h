#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "avs/sequence_header.h"
#include "rtspstream/media_table.h"

namespace rtspstream {

// 18 bytes laid out as a WAVEFORMATEX; only wFormatTag and nSamplesPerSec are set here.
#pragma pack(push, 1)
struct AudioFormatRecord {
    uint16_t w_format_tag = 0;
    uint16_t n_channels = 0;
    uint32_t n_samples_per_sec = 0;
    uint32_t n_avg_bytes_per_sec = 0;
    uint16_t n_block_align = 0;
    uint16_t w_bits_per_sample = 0;
    uint16_t cb_size = 0;
};
#pragma pack(pop)
static_assert(sizeof(AudioFormatRecord) == 18);

inline constexpr uint16_t kWaveFormatMpeg = 0x50;

// Standard base64 (RFC 4648 alphabet); '=' only at the end of the last group
// of four, at most two. Nothing for anything else.
std::optional<std::vector<uint8_t>> DecodeBase64(std::string_view text);

// The first sprop-parameter-sets value of the video entry's first format as
// 00 00 01 followed by the decoded bytes; nothing when the index is outside
// the video list or the value is absent, empty, not a multiple of 4 long or
// not base64.
std::optional<std::vector<uint8_t>> DecodeParameterSets(const MediaTable& table,
                                                        size_t video_index);

// A zeroed header whose header_bytes hold those bytes, cut to the room there
// is (140), and header_length their count. Without a usable value the header
// stays zeroed (header_length 0) and false is returned.
bool GetVideoHeader(const MediaTable& table, size_t video_index, avs::AvsSequenceHeader& header);

// wFormatTag 0x50 when the first format's encoding is exactly "MPA", else 0;
// nSamplesPerSec its clock rate. Nothing outside the audio list.
std::optional<AudioFormatRecord> GetAudioFormat(const MediaTable& table, size_t audio_index);

}  // namespace rtspstream
