// Rebuilds AVS pictures from RTP packets for the rtpavsdepay element: the
// project's FrameAssembler does the unit forms; this adds what a player needs
// around it. Sequence gaps and malformed packets drop the damaged picture and
// make the next one a discontinuity; the sequence header from the description
// goes before the first picture and before the first one after a
// discontinuity when the picture does not bring its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "gst/avs_picture.h"
#include "rtspstream/frame_assembler.h"

namespace avsgst {

struct RtpPacketView {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    bool marker = false;
    // Set when the transport already knows packets are missing before this one.
    bool discontinuity = false;
    std::span<const uint8_t> payload;
};

struct DepacketizedPicture {
    std::span<const uint8_t> bytes;  // valid until the next call
    uint32_t timestamp = 0;
    PictureKind kind = PictureKind::None;
    bool discontinuity = false;
};

class RtpAvsDepacketizer {
  public:
    static constexpr size_t kMaxPictureBytes = rtspstream::FrameAssembler::kMaxFrameBytes;

    // The sequence header unit (00 00 01 B0 ...) to send ahead of pictures.
    void SetSequenceHeader(std::span<const uint8_t> header_unit);
    const std::vector<uint8_t>& sequence_header() const { return header_; }

    // Takes one packet; true when it completed a picture, which `picture` then describes.
    bool Push(const RtpPacketView& packet, DepacketizedPicture& picture);

    // Packets were lost (the jitter buffer said so) or the stream was flushed:
    // the picture being built is dropped and the next one is a discontinuity.
    void MarkLost();
    void Reset();

    // Counts for the element's statistics and the tests.
    uint64_t pictures_dropped() const { return dropped_; }

  private:
    void DropPicture();
    bool StartsPicture(std::span<const uint8_t> payload) const;
    bool Malformed(std::span<const uint8_t> payload) const;

    rtspstream::FrameAssembler assembler_;
    std::vector<uint8_t> header_;
    std::vector<uint8_t> out_;
    bool have_sequence_ = false;
    uint16_t last_sequence_ = 0;
    // Until a packet that begins a picture: at the start, after a flush and
    // inside a damaged picture.
    bool skipping_ = true;
    bool discontinuity_ = true;  // the next picture handed on follows a break
    bool building_ = false;      // some packet of the current picture was taken
    bool delivered_ = false;     // the assembler still holds the picture last handed on
    uint64_t dropped_ = 0;
};

}  // namespace avsgst
