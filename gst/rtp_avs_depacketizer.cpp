#include "gst/rtp_avs_depacketizer.h"

namespace avsgst {

namespace {

constexpr uint8_t kAggregation = 24;
constexpr uint8_t kFragmentation = 28;
constexpr uint8_t kFragmentStart = 0x80;

// Start-code values that can only open a picture's access unit: sequence end,
// sequence header, video edit and the two picture headers. Extension and user
// data may stand inside a picture, slices always do.
bool OpensPicture(uint8_t value) {
    return value == 0xB0 || value == 0xB1 || value == 0xB3 || value == 0xB6 || value == 0xB7;
}

}  // namespace

void RtpAvsDepacketizer::SetSequenceHeader(std::span<const uint8_t> header_unit) {
    header_.assign(header_unit.begin(), header_unit.end());
}

bool RtpAvsDepacketizer::StartsPicture(std::span<const uint8_t> p) const {
    if (p.empty()) return false;
    uint8_t type = p[0] & 0x1F;
    if (type <= 23) return p.size() >= 2 && OpensPicture(p[1]);
    if (type == kAggregation) {
        size_t first = p.size() >= 3 ? (size_t{p[1]} << 8 | p[2]) : 0;
        return first >= 2 && p.size() >= 5 && OpensPicture(p[4]);
    }
    if (type == kFragmentation)
        return p.size() >= 3 && (p[1] & kFragmentStart) && OpensPicture(p[2]);
    return false;
}

bool RtpAvsDepacketizer::Malformed(std::span<const uint8_t> p) const {
    uint8_t type = p[0] & 0x1F;
    const bool in_fragment = !assembler_.ExpectFragmentStart();
    if (type == kFragmentation) {
        if (p.size() < 2) return true;
        const bool start = p[1] & kFragmentStart;
        // A fragment without its start, or a new start before the last unit's end.
        return start == in_fragment;
    }
    // Anything else while a fragmented unit is open means its end was lost.
    if (in_fragment && (type <= 23 || type == kAggregation)) return true;
    if (type == kAggregation) {
        for (size_t at = 1; p.size() - at >= 2;) {
            size_t size = size_t{p[at]} << 8 | p[at + 1];
            at += 2;
            if (size > p.size() - at) return true;
            at += size;
        }
    }
    return false;
}

void RtpAvsDepacketizer::DropPicture() {
    if (building_) ++dropped_;
    building_ = false;
    delivered_ = false;
    // Release also forgets an open fragmented unit.
    assembler_.Release();
    skipping_ = true;
    discontinuity_ = true;
}

void RtpAvsDepacketizer::MarkLost() {
    DropPicture();
}

void RtpAvsDepacketizer::Reset() {
    DropPicture();
    have_sequence_ = false;
}

bool RtpAvsDepacketizer::Push(const RtpPacketView& packet, DepacketizedPicture& picture) {
    if (delivered_) {
        assembler_.NextFrame();
        delivered_ = false;
    }
    std::span<const uint8_t> p = packet.payload;
    bool gap = packet.discontinuity;
    if (have_sequence_) {
        if (packet.sequence == last_sequence_) return false;  // a duplicate
        if (packet.sequence != static_cast<uint16_t>(last_sequence_ + 1)) gap = true;
    }
    have_sequence_ = true;
    last_sequence_ = packet.sequence;
    if (gap) DropPicture();
    if (p.empty()) return false;
    if (!skipping_ && Malformed(p)) DropPicture();
    if (skipping_) {
        if (!StartsPicture(p) || Malformed(p)) {
            // The damaged picture ends at its marker; the next packet opens a new one.
            if (packet.marker) skipping_ = false;
            return false;
        }
        skipping_ = false;
    }
    // Reserved unit types are passed over, marker and all.
    if (!assembler_.Add(p.data(), p.size())) return false;
    building_ = true;
    if (!packet.marker) return false;

    building_ = false;
    delivered_ = true;
    if (assembler_.Overflowed() || assembler_.Length() == 0) {
        if (assembler_.Overflowed()) ++dropped_;
        discontinuity_ = true;
        return false;
    }
    std::span<const uint8_t> frame(assembler_.Data(), assembler_.Length());
    std::optional<std::span<const uint8_t>> own_header = leading_sequence_header(frame);
    if (own_header) {
        header_.assign(own_header->begin(), own_header->end());
        picture.bytes = frame;
    } else if (discontinuity_ && !header_.empty()) {
        out_.assign(header_.begin(), header_.end());
        out_.insert(out_.end(), frame.begin(), frame.end());
        picture.bytes = out_;
    } else {
        picture.bytes = frame;
    }
    if (!assembler_.ExpectFragmentStart()) {
        // The marker ends the picture, so it ends a unit whose end fragment
        // never said so; the next fragment must open a unit of its own.
        if (picture.bytes.data() != out_.data()) out_.assign(frame.begin(), frame.end());
        picture.bytes = out_;
        assembler_.Release();
        delivered_ = false;
    }
    picture.timestamp = packet.timestamp;
    picture.kind = picture_kind(picture.bytes);
    picture.discontinuity = discontinuity_;
    discontinuity_ = false;
    return true;
}

}  // namespace avsgst
