#include "mp4/header_boxes.h"

#include "mp4/error.h"

namespace mp4 {

void FileTypeBox::Parse(Cursor& payload, const BoxFactory&) {
    major_brand = payload.Fourcc();
    minor_version = payload.U32();
    while (payload.Remaining() >= 4) compatible_brands.push_back(payload.Fourcc());
}

void MovieHeaderBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    if (Version() == 1) {
        creation_time = payload.U64();
        modification_time = payload.U64();
        timescale = payload.U32();
        duration = payload.U64();
    } else {
        creation_time = payload.U32();
        modification_time = payload.U32();
        timescale = payload.U32();
        duration = payload.U32();
    }
    // rate, volume, matrix and next track id: not needed for reading.
}

void TrackHeaderBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    if (Version() == 1) {
        creation_time = payload.U64();
        modification_time = payload.U64();
        track_id = payload.U32();
        payload.Skip(4);
        duration = payload.U64();
    } else {
        creation_time = payload.U32();
        modification_time = payload.U32();
        track_id = payload.U32();
        payload.Skip(4);
        duration = payload.U32();
    }
}

void MediaHeaderBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    if (Version() == 1) {
        creation_time = payload.U64();
        modification_time = payload.U64();
        timescale = payload.U32();
        duration = payload.U64();
    } else {
        creation_time = payload.U32();
        modification_time = payload.U32();
        timescale = payload.U32();
        duration = payload.U32();
    }
    language = payload.U16();
}

void HandlerBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    payload.Skip(4);  // pre_defined
    handler_type = payload.Fourcc();
    payload.Skip(12);  // reserved
    auto rest = payload.Bytes(payload.Remaining());
    name.assign(rest.begin(), rest.end());
    if (auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
}

void DataEntryBox::Parse(Cursor& payload, const BoxFactory&) {
    ParseVersionAndFlags(payload);
    // The location text only matters for data in other files, which is not read.
}

void DataReferenceBox::Parse(Cursor& payload, const BoxFactory& factory) {
    ParseVersionAndFlags(payload);
    ParseEntries(payload, factory, payload.U32());
}

const Box* DataReferenceBox::Entry(uint32_t index) const {
    if (index == 0 || index > Children().size()) return nullptr;
    return Children()[index - 1].get();
}

}  // namespace mp4
