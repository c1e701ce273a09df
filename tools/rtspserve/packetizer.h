#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace rtspserve {

// Cuts one AVS picture (elementary-stream bytes, units behind 00 00 01) into
// RTP payloads of at most max_payload bytes: a unit that fits alone goes as a
// single-unit payload (type byte 1), runs of small units share an aggregation
// payload (type 24), and a unit too large for one payload is fragmented
// (type 28, fragment header 0x80 first, 0x40 last). emit(payload, length,
// last) is called in order; last marks the picture's final payload.
void PacketizePicture(const uint8_t* picture, size_t length, size_t max_payload,
                      const std::function<void(const uint8_t*, size_t, bool)>& emit);

// Splits elementary-stream bytes into units: (offset, length) of each unit's
// bytes after its 00 00 01 prefix. Bytes before the first prefix are skipped.
std::vector<std::pair<size_t, size_t>> SplitUnits(const uint8_t* bytes, size_t length);

}  // namespace rtspserve
