// Both sequence-header decodes and the bit reader over arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "avs/avs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    avs::AvsSequenceHeader header;
    avs::decode_sequence_header(data, size, header);
    avs::DecodeSequenceHeaderFixed(data, size, header);
    if (header.header_length < 0 || static_cast<size_t>(header.header_length) > size)
        __builtin_trap();
    avs::Bitstream bs(data, static_cast<uint32_t>(size * 8 > 0xFFFFFFFFu ? 0 : size * 8));
    try {
        while (bs.BitsRemain() > 0) bs.read_ue();
    } catch (const avs::BitstreamError&) {
    }
    return 0;
}
