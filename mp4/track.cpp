#include "mp4/track.h"

#include "mp4/error.h"

namespace mp4 {

namespace {
const Box& required(const Box* parent, const char* type) {
    const Box* box = parent ? parent->child(type) : nullptr;
    if (!box) throw Mp4Error(std::string("missing mandatory box '") + type + "'");
    return *box;
}

template <class T>
const T& required_as(const Box* parent, const char* type) {
    const T* box = dynamic_cast<const T*>(&required(parent, type));
    if (!box) throw Mp4Error(std::string("box '") + type + "' is not what it should be");
    return *box;
}

const Box& stbl_of(const Box& trak) {
    const Box& mdia = required(&trak, "mdia");
    const Box& minf = required(&mdia, "minf");
    return required(&minf, "stbl");
}
}  // namespace

Track::Track(const Box& trak) : trak_(&trak), samples_(stbl_of(trak)) {
    id_ = required_as<TrackHeaderBox>(&trak, "tkhd").track_id;
    const Box& mdia = required(&trak, "mdia");
    const auto& mdhd = required_as<MediaHeaderBox>(&mdia, "mdhd");
    timescale_ = mdhd.timescale;
    duration_ = mdhd.duration;
    if (timescale_ == 0) throw Mp4Error("track " + std::to_string(id_) + " has time scale 0");
    handler_type_ = required_as<HandlerBox>(&mdia, "hdlr").handler_type;
    const Box& minf = required(&mdia, "minf");
    if (const Box* dinf = minf.child("dinf")) dref_ = dinf->child_as<DataReferenceBox>("dref");
    stsd_ = &required_as<SampleDescriptionBox>(&required(&minf, "stbl"), "stsd");
}

std::string Track::single_entry_type() const {
    if (stsd_->entry_count() != 1)
        throw Mp4Error("track " + std::to_string(id_) + " has " +
                       std::to_string(stsd_->entry_count()) + " sample entries, not one");
    return stsd_->entry(1)->type();
}

const SampleEntry& Track::readable_entry(uint32_t description_index) const {
    const Box* box = stsd_->entry(description_index);
    if (!box)
        throw Mp4Error("track " + std::to_string(id_) + " has no sample entry " +
                       std::to_string(description_index));
    const auto* entry = dynamic_cast<const SampleEntry*>(box);
    if (!entry)
        throw Mp4Error("sample entry '" + printable_type(box->type()) +
                       "' is not known, its samples cannot be read");
    const Box* reference = dref_ ? dref_->entry(entry->data_reference_index) : nullptr;
    if (!reference)
        throw Mp4Error("sample entry '" + printable_type(box->type()) + "' has no data reference");
    const auto* data_entry = dynamic_cast<const DataEntryBox*>(reference);
    if (!data_entry || !data_entry->self_contained())
        throw Mp4Error("media data in other files is not supported");
    return *entry;
}

}  // namespace mp4
