// Start-code search and emulation-byte removal for AVS1-P2 elementary streams.
#pragma once

#include <cstddef>
#include <cstdint>

namespace avs {

// Offset of the first 00 00 01 prefix in bytes[0, length), or 0 when there is none.
// A prefix at offset 0 is skipped (never reported), and the last three bytes of the
// range are never examined, so a prefix whose 01 lies among them is not found.
// Never reads outside the range.
uint32_t find_start_code(const uint8_t* bytes, size_t length);

// True when bytes (length readable) begin with 00 00 01 or 00 00 00 01.
bool BeginsWithPrefix(const uint8_t* bytes, size_t length);

// Copies src[0, src_length) to dst with every 00 00 03 replaced by 00 00, except
// where fewer than four bytes remain from the triple's first byte to the end of src.
// At most dst_capacity bytes are written; returns the number written.
size_t remove_emulation_bytes(const uint8_t* src, size_t src_length, uint8_t* dst,
                              size_t dst_capacity);

// Scratch sizes used before parsing: a sequence header and a slice's first bytes.
constexpr size_t kSequenceHeaderScratch = 2048;
constexpr size_t kSliceScratch = 512;

}  // namespace avs
