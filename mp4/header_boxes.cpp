#include "mp4/header_boxes.h"

#include "mp4/error.h"

namespace mp4 {

void FileTypeBox::parse(Cursor& payload, const BoxFactory&) {
    major_brand = payload.fourcc();
    minor_version = payload.u32();
    while (payload.remaining() >= 4) compatible_brands.push_back(payload.fourcc());
}

void MovieHeaderBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    if (version() == 1) {
        creation_time = payload.u64();
        modification_time = payload.u64();
        timescale = payload.u32();
        duration = payload.u64();
    } else {
        creation_time = payload.u32();
        modification_time = payload.u32();
        timescale = payload.u32();
        duration = payload.u32();
    }
    // rate, volume, matrix and next track id: not needed for reading.
}

void TrackHeaderBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    if (version() == 1) {
        creation_time = payload.u64();
        modification_time = payload.u64();
        track_id = payload.u32();
        payload.skip(4);
        duration = payload.u64();
    } else {
        creation_time = payload.u32();
        modification_time = payload.u32();
        track_id = payload.u32();
        payload.skip(4);
        duration = payload.u32();
    }
}

void MediaHeaderBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    if (version() == 1) {
        creation_time = payload.u64();
        modification_time = payload.u64();
        timescale = payload.u32();
        duration = payload.u64();
    } else {
        creation_time = payload.u32();
        modification_time = payload.u32();
        timescale = payload.u32();
        duration = payload.u32();
    }
    language = payload.u16();
}

void HandlerBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    payload.skip(4);  // pre_defined
    handler_type = payload.fourcc();
    payload.skip(12);  // reserved
    auto rest = payload.bytes(payload.remaining());
    name.assign(rest.begin(), rest.end());
    if (auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
}

void DataEntryBox::parse(Cursor& payload, const BoxFactory&) {
    parse_version_and_flags(payload);
    // The location text only matters for data in other files, which is not read.
}

void DataReferenceBox::parse(Cursor& payload, const BoxFactory& factory) {
    parse_version_and_flags(payload);
    parse_entries(payload, factory, payload.u32());
}

const Box* DataReferenceBox::entry(uint32_t index) const {
    if (index == 0 || index > children().size()) return nullptr;
    return children()[index - 1].get();
}

}  // namespace mp4
