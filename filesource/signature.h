// The quick test that a byte stream is an AVS media container.
#pragma once

#include "mp4/byte_source.h"

namespace filesource {

// How many leading bytes are read, and the last offset "avs2" may start at.
inline constexpr size_t kSignatureWindow = 25;
inline constexpr size_t kLastSignatureOffset = 21;

// True when "avs2" starts at an offset from 0 to 21 of the first 25 bytes.
// A source shorter than 25 bytes fails. Reads from position 0.
bool has_avs_signature(mp4::ByteSource& source);

}  // namespace filesource
