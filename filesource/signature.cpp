#include "filesource/signature.h"

#include <cstring>

namespace filesource {

bool has_avs_signature(mp4::ByteSource& source) {
    uint8_t head[kSignatureWindow];
    source.Seek(0);
    if (source.Read(head, sizeof head) != sizeof head) return false;
    for (size_t i = 0; i <= kLastSignatureOffset; ++i)
        if (std::memcmp(head + i, "avs2", 4) == 0) return true;
    return false;
}

}  // namespace filesource
