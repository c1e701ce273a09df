#include "gst/container_picture_parser.h"

#include "filesource/unpack.h"

namespace avsgst {

void ContainerPictureParser::Flush() {
    discontinuity_ = true;
    wait_for_key_ = true;
}

bool ContainerPictureParser::TakeFormatChange() {
    bool changed = format_changed_;
    format_changed_ = false;
    return changed;
}

bool ContainerPictureParser::Push(std::span<uint8_t> sample, bool discontinuity,
                                  ContainerPicture& picture) {
    if (discontinuity) Flush();
    std::optional<size_t> size = filesource::unpack_video_sample_in_place(sample);
    if (!size || *size == 0) {
        // A picture is missing: the decoder is told, and conceals what it can.
        ++invalid_;
        discontinuity_ = true;
        return false;
    }
    std::span<const uint8_t> es(sample.data(), *size);
    std::optional<std::span<const uint8_t>> own_header = leading_sequence_header(es);
    if (own_header) {
        std::optional<VideoFormat> format = video_format_of(*own_header);
        if (format) {
            if (format != format_) format_changed_ = true;
            format_ = format;
            header_.assign(own_header->begin(), own_header->end());
        }
    }
    PictureKind kind = picture_kind(es);
    // Without a sequence header nothing can be decoded; after a break a P or B
    // picture has lost what it refers to.
    if (header_.empty() || (wait_for_key_ && kind != PictureKind::Key) ||
        (skip_leading_b_ && kind == PictureKind::Bidirectional)) {
        ++skipped_;
        return false;
    }
    if (wait_for_key_) skip_leading_b_ = true;
    wait_for_key_ = false;
    if (kind == PictureKind::Predicted) skip_leading_b_ = false;
    picture.size = *size;
    picture.kind = kind;
    picture.discontinuity = discontinuity_;
    picture.needs_header = discontinuity_ && !own_header;
    discontinuity_ = false;
    return true;
}

}  // namespace avsgst
