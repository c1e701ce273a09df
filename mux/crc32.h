// CRC_32 of MPEG-2 sections: polynomial 0x04C11DB7, initial 0xFFFFFFFF, MSB first,
// no reflection, no final inversion.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mux {

uint32_t Crc32Mpeg(const uint8_t* bytes, size_t length);

}  // namespace mux
