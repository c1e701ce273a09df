// The container's video samples (units with 32-bit lengths) as pictures in the
// elementary-stream form, for the avscontainerparse element. Unpacking
// happens where the sample lies; the element only adds the sequence header in
// front when the picture needs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "gst/avs_picture.h"

namespace avsgst {

struct ContainerPicture {
    size_t size = 0;  // unpacked bytes at the start of the sample
    PictureKind kind = PictureKind::None;
    bool discontinuity = false;
    // The picture follows a break and brings no sequence header of its own:
    // sequence_header() goes in front of it.
    bool needs_header = false;
};

class ContainerPictureParser {
  public:
    // Unpacks one stored sample in place. False when it is dropped: its units
    // do not fit it, no sequence header is known yet, or it is a P or B
    // picture after a break before the next key picture, or a B picture
    // right after that key picture (it refers to a picture before the break).
    bool Push(std::span<uint8_t> sample, bool discontinuity, ContainerPicture& picture);

    // A seek or flush: wait for a key picture and send the header again.
    void Flush();

    const std::vector<uint8_t>& sequence_header() const { return header_; }
    const std::optional<VideoFormat>& format() const { return format_; }
    // True once after a sequence header changed the format.
    bool TakeFormatChange();

    uint64_t invalid_samples() const { return invalid_; }
    uint64_t skipped_pictures() const { return skipped_; }

  private:
    std::vector<uint8_t> header_;
    std::optional<VideoFormat> format_;
    bool format_changed_ = false;
    bool discontinuity_ = true;
    bool wait_for_key_ = true;
    bool skip_leading_b_ = false;
    uint64_t invalid_ = 0;
    uint64_t skipped_ = 0;
};

}  // namespace avsgst
