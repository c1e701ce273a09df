#include "tools/rtspserve/packetizer.h"

#include <algorithm>
#include <cstring>

namespace rtspserve {

namespace {
constexpr uint8_t kSingleType = 1;
constexpr uint8_t kAggregation = 24;
constexpr uint8_t kFragmentation = 28;
constexpr uint8_t kFragmentStart = 0x80;
constexpr uint8_t kFragmentEnd = 0x40;
}  // namespace

std::vector<std::pair<size_t, size_t>> SplitUnits(const uint8_t* bytes, size_t length) {
    std::vector<size_t> starts;  // offsets of each prefix
    // Look for the 01 byte of each prefix with memchr, then check the two zeros.
    size_t i = 2;
    while (i < length) {
        const void* hit = std::memchr(bytes + i, 1, length - i);
        if (!hit) break;
        size_t at = static_cast<const uint8_t*>(hit) - bytes;
        if (bytes[at - 1] == 0 && bytes[at - 2] == 0) {
            starts.push_back(at - 2);
            i = at + 3;  // the next prefix's 01 comes two bytes after its zeros at the earliest
        } else {
            i = at + 1;
        }
    }
    std::vector<std::pair<size_t, size_t>> units;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t begin = starts[k] + 3;
        size_t end = k + 1 < starts.size() ? starts[k + 1] : length;
        units.emplace_back(begin, end - begin);
    }
    return units;
}

void PacketizePicture(const uint8_t* picture, size_t length, size_t max_payload,
                      const std::function<void(const uint8_t*, size_t, bool)>& emit) {
    max_payload = std::max<size_t>(max_payload, 16);
    std::vector<std::pair<size_t, size_t>> units = SplitUnits(picture, length);
    std::vector<uint8_t> payload;
    payload.reserve(max_payload);

    // Payloads are produced one behind, so the last one can carry the marker.
    std::vector<uint8_t> pending;
    bool have_pending = false;
    auto push = [&](std::vector<uint8_t>& p) {
        if (have_pending) emit(pending.data(), pending.size(), false);
        pending.swap(p);
        p.clear();
        have_pending = true;
    };

    size_t i = 0;
    while (i < units.size()) {
        auto [offset, size] = units[i];
        if (1 + size > max_payload) {
            // Fragmentation: [28, header, part...]
            size_t chunk = max_payload - 2;
            for (size_t done = 0; done < size; done += chunk) {
                size_t n = std::min(chunk, size - done);
                uint8_t header = 0;
                if (done == 0) header = kFragmentStart;
                if (done + n == size) header |= kFragmentEnd;
                payload.push_back(kFragmentation);
                payload.push_back(header);
                payload.insert(payload.end(), picture + offset + done, picture + offset + done + n);
                push(payload);
            }
            ++i;
            continue;
        }
        // How many following units fit together in one aggregation payload.
        size_t total = 1, count = 0;
        while (i + count < units.size() && units[i + count].second + 1 <= 0xFFFF &&
               total + 2 + 1 + units[i + count].second <= max_payload) {
            total += 2 + 1 + units[i + count].second;
            ++count;
        }
        if (count >= 2) {
            payload.push_back(kAggregation);
            for (size_t k = 0; k < count; ++k) {
                auto [o, s] = units[i + k];
                size_t unit_size = s + 1;  // with its own type byte
                payload.push_back(static_cast<uint8_t>(unit_size >> 8));
                payload.push_back(static_cast<uint8_t>(unit_size));
                payload.push_back(kSingleType);
                payload.insert(payload.end(), picture + o, picture + o + s);
            }
            push(payload);
            i += count;
            continue;
        }
        payload.push_back(kSingleType);
        payload.insert(payload.end(), picture + offset, picture + offset + size);
        push(payload);
        ++i;
    }
    if (have_pending) emit(pending.data(), pending.size(), true);
}

}  // namespace rtspserve
