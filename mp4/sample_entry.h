// Sample descriptions: the stsd box and the sample entries it holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mp4/box.h"

namespace mp4 {

// stsd: its children are the sample entries, in order.
class SampleDescriptionBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    size_t EntryCount() const { return Children().size(); }
    // Entry `index` counting from 1, or null.
    const Box* Entry(uint32_t index) const;
};

// The fields every known sample entry starts with. A sample entry the reader
// has no class for stays an UnknownBox, and its samples cannot be read.
class SampleEntry : public Box {
  public:
    uint16_t data_reference_index = 0;

  protected:
    void ParseSampleEntryHeader(Cursor& payload);
};

// Audio sample entry (mp4a, .mp3).
class AudioSampleEntry : public SampleEntry {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    uint16_t channel_count = 0;
    uint16_t sample_size = 0;
    uint32_t sample_rate = 0;  // integer part of the 16.16 value
};

// Visual sample entry layout; video formats derive from it and read their
// configuration boxes from the children.
class VisualSampleEntry : public SampleEntry {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    uint16_t width = 0;
    uint16_t height = 0;
    std::string compressor_name;
};

// esds: the MPEG-4 elementary stream descriptor of an audio entry.
class EsDescriptorBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    uint16_t es_id = 0;
    uint8_t object_type_indication = 0;
    uint8_t stream_type = 0;
    uint32_t buffer_size_db = 0;
    uint32_t max_bitrate = 0;
    uint32_t avg_bitrate = 0;
};

}  // namespace mp4
