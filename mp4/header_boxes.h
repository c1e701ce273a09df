// The boxes that describe the file, the movie and each track.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mp4/box.h"

namespace mp4 {

// ftyp: brands.
class FileTypeBox : public Box {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    std::string major_brand;
    uint32_t minor_version = 0;
    std::vector<std::string> compatible_brands;
};

// mvhd: presentation time scale and duration.
class MovieHeaderBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    uint64_t creation_time = 0;
    uint64_t modification_time = 0;
    uint32_t timescale = 0;
    uint64_t duration = 0;
};

// tkhd: the track's identifier.
class TrackHeaderBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    uint64_t creation_time = 0;
    uint64_t modification_time = 0;
    uint32_t track_id = 0;
    uint64_t duration = 0;
};

// mdhd: the unit of the track's sample tables.
class MediaHeaderBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    uint64_t creation_time = 0;
    uint64_t modification_time = 0;
    uint32_t timescale = 0;
    uint64_t duration = 0;
    uint16_t language = 0;
};

// hdlr: what kind of track this is ("vide", "soun", ...).
class HandlerBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    std::string handler_type;
    std::string name;
};

// url / urn: one data reference; flag 1 means the data is in this file.
class DataEntryBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    bool SelfContained() const { return (Flags() & 1) != 0; }
};

// dref: the list of data references that sample entries point at (1-based).
class DataReferenceBox : public FullBox {
  public:
    void Parse(Cursor& payload, const BoxFactory& factory) override;
    // Entry `index` counting from 1, or null.
    const Box* Entry(uint32_t index) const;
};

}  // namespace mp4
