#include "mp4/box.h"

#include "mp4/error.h"
#include "mp4/header_boxes.h"
#include "mp4/sample_entry.h"
#include "mp4/sample_table_boxes.h"

namespace mp4 {

void Box::parse(Cursor&, const BoxFactory&) {}

Box* Box::child(std::string_view type) const {
    for (const auto& c : children_)
        if (c->type() == type) return c.get();
    return nullptr;
}

namespace {
// Boxes parsed from memory can nest inside each other (a container inside a
// sample entry); a crafted file must not run the stack out.
constexpr int kMaxNesting = 32;
thread_local int nesting = 0;

struct NestingGuard {
    NestingGuard() {
        if (++nesting > kMaxNesting) {
            --nesting;
            throw Mp4Error("boxes are nested too deeply");
        }
    }
    ~NestingGuard() { --nesting; }
};

std::unique_ptr<Box> parse_one(Cursor& payload, uint64_t base, const BoxFactory& factory) {
    NestingGuard guard;
    BoxHeader header = read_box_header(payload, base);
    const size_t body = static_cast<size_t>(header.size - header.header_size);
    Cursor inner = payload.sub(body, printable_type(header.type));
    auto box = factory.create(header.type);
    box->set_header(std::move(header));
    box->parse(inner, factory);
    return box;
}
}  // namespace

void Box::parse_children(Cursor& payload, const BoxFactory& factory) {
    while (payload.remaining() >= 8)
        add_child(parse_one(payload, offset() + header_size(), factory));
}

void Box::parse_entries(Cursor& payload, const BoxFactory& factory, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (payload.remaining() < 8)
            throw Mp4Error("box '" + printable_type(type()) + "' holds fewer entries than it says");
        add_child(parse_one(payload, offset() + header_size(), factory));
    }
}

std::string printable_type(std::string_view type) {
    std::string out;
    for (char c : type) out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out;
}

BoxHeader read_box_header(Cursor& cursor, uint64_t base_offset) {
    BoxHeader header;
    header.offset = base_offset + cursor.position();
    const size_t available = cursor.remaining();
    uint64_t size = cursor.u32();
    header.type = cursor.fourcc();
    header.header_size = 8;
    if (size == 1) {
        size = cursor.u64();
        header.header_size = 16;
    } else if (size == 0) {
        size = available;
    }
    if (size < header.header_size || size > available)
        throw Mp4Error("box '" + printable_type(header.type) + "' at offset " +
                       std::to_string(header.offset) + " runs past its parent");
    header.size = size;
    return header;
}

std::unique_ptr<Box> BoxFactory::create(const std::string& type) const {
    auto it = creators_.find(type);
    if (it == creators_.end()) return std::make_unique<UnknownBox>();
    return it->second();
}

namespace {
template <class T>
BoxFactory::Creator make() {
    return [] { return std::make_unique<T>(); };
}
}  // namespace

BoxFactory standard_box_factory() {
    BoxFactory f;
    for (const char* type : {"moov", "trak", "mdia", "minf", "dinf", "stbl"})
        f.add(type, make<ContainerBox>());
    f.add("ftyp", make<FileTypeBox>());
    f.add("mvhd", make<MovieHeaderBox>());
    f.add("tkhd", make<TrackHeaderBox>());
    f.add("mdhd", make<MediaHeaderBox>());
    f.add("hdlr", make<HandlerBox>());
    f.add("dref", make<DataReferenceBox>());
    f.add("url ", make<DataEntryBox>());
    f.add("urn ", make<DataEntryBox>());
    f.add("stsd", make<SampleDescriptionBox>());
    f.add("mp4a", make<AudioSampleEntry>());
    f.add(".mp3", make<AudioSampleEntry>());
    f.add("esds", make<EsDescriptorBox>());
    f.add("stts", make<TimeToSampleBox>());
    f.add("ctts", make<CompositionOffsetBox>());
    f.add("stsz", make<SampleSizeBox>());
    f.add("stsc", make<SampleToChunkBox>());
    f.add("stco", make<ChunkOffsetBox>());
    f.add("co64", make<ChunkOffsetBox>());
    f.add("stss", make<SyncSampleBox>());
    return f;
}

}  // namespace mp4
