// Turns a stored video sample (units with 32-bit lengths) into the
// elementary-stream form (units after 00 00 01 prefixes).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace filesource {

// The length reported for a sample whose units do not fit it.
inline constexpr uint32_t kInvalidSampleLength = 0xFFFFFFFF;

// Each stored unit is a 32-bit big-endian length L, one unit-header byte and
// L - 1 body bytes; it becomes 00 00 01 and the body. Returns false and leaves
// `out` empty when a unit has L = 0, or a length field or body runs past the
// stored bytes. Nothing beyond `stored` is read.
bool unpack_video_sample(std::span<const uint8_t> stored, std::vector<uint8_t>& out);

// The two passes apart, so a caller can unpack straight into a buffer of its own:
// the unpacked size, or nothing when the units do not fit `stored` (as above);
// then the unpacking into `out`, which must hold that many bytes and may be
// where `stored` lies.
std::optional<size_t> unpacked_video_size(std::span<const uint8_t> stored);
void unpack_video_sample_into(std::span<const uint8_t> stored, uint8_t* out);

// Unpacks the stored sample in `bytes` where it lies (each unit shrinks by two
// bytes, so the result never overtakes what is still to be read) and returns
// the unpacked size. When the units do not fit, nothing is changed and nothing
// is returned.
std::optional<size_t> unpack_video_sample_in_place(std::span<uint8_t> bytes);

}  // namespace filesource
