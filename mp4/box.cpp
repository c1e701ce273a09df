#include "mp4/box.h"

#include "mp4/error.h"
#include "mp4/header_boxes.h"
#include "mp4/sample_entry.h"
#include "mp4/sample_table_boxes.h"

namespace mp4 {

void Box::Parse(Cursor&, const BoxFactory&) {}

Box* Box::Child(std::string_view type) const {
    for (const auto& c : children_)
        if (c->Type() == type) return c.get();
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

std::unique_ptr<Box> ParseOne(Cursor& payload, uint64_t base, const BoxFactory& factory) {
    NestingGuard guard;
    BoxHeader header = ReadBoxHeader(payload, base);
    const size_t body = static_cast<size_t>(header.size - header.header_size);
    Cursor inner = payload.Sub(body, PrintableType(header.type));
    auto box = factory.Create(header.type);
    box->SetHeader(std::move(header));
    box->Parse(inner, factory);
    return box;
}
}  // namespace

void Box::ParseChildren(Cursor& payload, const BoxFactory& factory) {
    while (payload.Remaining() >= 8) AddChild(ParseOne(payload, Offset() + HeaderSize(), factory));
}

void Box::ParseEntries(Cursor& payload, const BoxFactory& factory, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (payload.Remaining() < 8)
            throw Mp4Error("box '" + PrintableType(Type()) + "' holds fewer entries than it says");
        AddChild(ParseOne(payload, Offset() + HeaderSize(), factory));
    }
}

std::string PrintableType(std::string_view type) {
    std::string out;
    for (char c : type) out += (c >= 0x20 && c < 0x7F) ? c : '?';
    return out;
}

BoxHeader ReadBoxHeader(Cursor& cursor, uint64_t base_offset) {
    BoxHeader header;
    header.offset = base_offset + cursor.Position();
    const size_t available = cursor.Remaining();
    uint64_t size = cursor.U32();
    header.type = cursor.Fourcc();
    header.header_size = 8;
    if (size == 1) {
        size = cursor.U64();
        header.header_size = 16;
    } else if (size == 0) {
        size = available;
    }
    if (size < header.header_size || size > available)
        throw Mp4Error("box '" + PrintableType(header.type) + "' at offset " +
                       std::to_string(header.offset) + " runs past its parent");
    header.size = size;
    return header;
}

std::unique_ptr<Box> BoxFactory::Create(const std::string& type) const {
    auto it = creators_.find(type);
    if (it == creators_.end()) return std::make_unique<UnknownBox>();
    return it->second();
}

namespace {
template <class T>
BoxFactory::Creator Make() {
    return [] { return std::make_unique<T>(); };
}
}  // namespace

BoxFactory StandardBoxFactory() {
    BoxFactory f;
    for (const char* type : {"moov", "trak", "mdia", "minf", "dinf", "stbl"})
        f.Add(type, Make<ContainerBox>());
    f.Add("ftyp", Make<FileTypeBox>());
    f.Add("mvhd", Make<MovieHeaderBox>());
    f.Add("tkhd", Make<TrackHeaderBox>());
    f.Add("mdhd", Make<MediaHeaderBox>());
    f.Add("hdlr", Make<HandlerBox>());
    f.Add("dref", Make<DataReferenceBox>());
    f.Add("url ", Make<DataEntryBox>());
    f.Add("urn ", Make<DataEntryBox>());
    f.Add("stsd", Make<SampleDescriptionBox>());
    f.Add("mp4a", Make<AudioSampleEntry>());
    f.Add(".mp3", Make<AudioSampleEntry>());
    f.Add("esds", Make<EsDescriptorBox>());
    f.Add("stts", Make<TimeToSampleBox>());
    f.Add("ctts", Make<CompositionOffsetBox>());
    f.Add("stsz", Make<SampleSizeBox>());
    f.Add("stsc", Make<SampleToChunkBox>());
    f.Add("stco", Make<ChunkOffsetBox>());
    f.Add("co64", Make<ChunkOffsetBox>());
    f.Add("stss", Make<SyncSampleBox>());
    return f;
}

}  // namespace mp4
