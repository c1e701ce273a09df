#include "mp4/track.h"

#include "mp4/error.h"

namespace mp4 {

namespace {
const Box& Required(const Box* parent, const char* type) {
    const Box* box = parent ? parent->Child(type) : nullptr;
    if (!box) throw Mp4Error(std::string("missing mandatory box '") + type + "'");
    return *box;
}

template <class T>
const T& RequiredAs(const Box* parent, const char* type) {
    const T* box = dynamic_cast<const T*>(&Required(parent, type));
    if (!box) throw Mp4Error(std::string("box '") + type + "' is not what it should be");
    return *box;
}

const Box& StblOf(const Box& trak) {
    const Box& mdia = Required(&trak, "mdia");
    const Box& minf = Required(&mdia, "minf");
    return Required(&minf, "stbl");
}
}  // namespace

Track::Track(const Box& trak) : trak_(&trak), samples_(StblOf(trak)) {
    id_ = RequiredAs<TrackHeaderBox>(&trak, "tkhd").track_id;
    const Box& mdia = Required(&trak, "mdia");
    const auto& mdhd = RequiredAs<MediaHeaderBox>(&mdia, "mdhd");
    timescale_ = mdhd.timescale;
    duration_ = mdhd.duration;
    if (timescale_ == 0) throw Mp4Error("track " + std::to_string(id_) + " has time scale 0");
    handler_type_ = RequiredAs<HandlerBox>(&mdia, "hdlr").handler_type;
    const Box& minf = Required(&mdia, "minf");
    if (const Box* dinf = minf.Child("dinf")) dref_ = dinf->ChildAs<DataReferenceBox>("dref");
    stsd_ = &RequiredAs<SampleDescriptionBox>(&Required(&minf, "stbl"), "stsd");
}

std::string Track::SingleEntryType() const {
    if (stsd_->EntryCount() != 1)
        throw Mp4Error("track " + std::to_string(id_) + " has " +
                       std::to_string(stsd_->EntryCount()) + " sample entries, not one");
    return stsd_->Entry(1)->Type();
}

const SampleEntry& Track::ReadableEntry(uint32_t description_index) const {
    const Box* box = stsd_->Entry(description_index);
    if (!box)
        throw Mp4Error("track " + std::to_string(id_) + " has no sample entry " +
                       std::to_string(description_index));
    const auto* entry = dynamic_cast<const SampleEntry*>(box);
    if (!entry)
        throw Mp4Error("sample entry '" + PrintableType(box->Type()) +
                       "' is not known, its samples cannot be read");
    const Box* reference = dref_ ? dref_->Entry(entry->data_reference_index) : nullptr;
    if (!reference)
        throw Mp4Error("sample entry '" + PrintableType(box->Type()) + "' has no data reference");
    const auto* data_entry = dynamic_cast<const DataEntryBox*>(reference);
    if (!data_entry || !data_entry->SelfContained())
        throw Mp4Error("media data in other files is not supported");
    return *entry;
}

}  // namespace mp4
