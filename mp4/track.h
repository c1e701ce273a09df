// One trak box made usable: identity, handler, time scale and samples.
#pragma once

#include <cstdint>
#include <string>

#include "mp4/box.h"
#include "mp4/header_boxes.h"
#include "mp4/sample_entry.h"
#include "mp4/sample_table.h"

namespace mp4 {

class Track {
  public:
    // Throws Mp4Error when a mandatory box of the track is missing.
    explicit Track(const Box& trak);

    uint32_t Id() const { return id_; }
    const std::string& HandlerType() const { return handler_type_; }
    uint32_t Timescale() const { return timescale_; }
    uint64_t Duration() const { return duration_; }
    uint32_t SampleCount() const { return samples_.SampleCount(); }
    const SampleTable& Samples() const { return samples_; }
    const SampleDescriptionBox& Descriptions() const { return *stsd_; }
    const Box& TrakBox() const { return *trak_; }

    // The type of the track's only sample entry; throws when stsd does not hold
    // exactly one.
    std::string SingleEntryType() const;
    // The known sample entry for a description index, checked to point at data
    // in this file; throws otherwise.
    const SampleEntry& ReadableEntry(uint32_t description_index) const;

  private:
    const Box* trak_;
    uint32_t id_ = 0;
    std::string handler_type_;
    uint32_t timescale_ = 0;
    uint64_t duration_ = 0;
    const SampleDescriptionBox* stsd_ = nullptr;
    const DataReferenceBox* dref_ = nullptr;
    SampleTable samples_;
};

}  // namespace mp4
