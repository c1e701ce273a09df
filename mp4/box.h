// Boxes: one class per box type, each built from its payload bytes. The tree
// keeps every box met (unknown ones as bare nodes without contents).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mp4/cursor.h"

namespace mp4 {

class BoxFactory;

// Where a box lies in the file and how long its header is.
struct BoxHeader {
    std::string type;
    uint64_t offset = 0;  // file offset of the size field
    uint64_t size = 0;    // whole box, header included
    uint32_t header_size = 8;
};

class Box {
  public:
    virtual ~Box() = default;

    const std::string& Type() const { return header_.type; }
    uint64_t Offset() const { return header_.offset; }
    uint64_t Size() const { return header_.size; }
    uint32_t HeaderSize() const { return header_.header_size; }
    void SetHeader(BoxHeader header) { header_ = std::move(header); }

    // Container boxes are walked box by box from the byte source instead of
    // having their payload read into memory.
    virtual bool IsContainer() const { return false; }
    // Builds the box from its payload (the bytes after the header).
    virtual void Parse(Cursor& payload, const BoxFactory& factory);

    const std::vector<std::unique_ptr<Box>>& Children() const { return children_; }
    void AddChild(std::unique_ptr<Box> child) { children_.push_back(std::move(child)); }
    // The first child of the given type, or null.
    Box* Child(std::string_view type) const;
    template <class T>
    T* ChildAs(std::string_view type) const {
        return dynamic_cast<T*>(Child(type));
    }

  protected:
    // Reads child boxes from the rest of the payload; trailing bytes too few for
    // a box header are ignored.
    void ParseChildren(Cursor& payload, const BoxFactory& factory);
    // Reads exactly `count` child boxes (the entries of a table box); throws
    // when fewer are there.
    void ParseEntries(Cursor& payload, const BoxFactory& factory, uint32_t count);

  private:
    BoxHeader header_;
    std::vector<std::unique_ptr<Box>> children_;
};

// A box the reader has no definition for: kept in the tree, contents skipped.
class UnknownBox : public Box {
  public:
    void Parse(Cursor&, const BoxFactory&) override {}
};

// A box that only holds boxes (moov, trak, mdia, minf, dinf, stbl).
class ContainerBox : public Box {
  public:
    bool IsContainer() const override { return true; }
    void Parse(Cursor& payload, const BoxFactory& factory) override {
        ParseChildren(payload, factory);
    }
};

// The version and flags word of a full box.
class FullBox : public Box {
  public:
    uint8_t Version() const { return version_; }
    uint32_t Flags() const { return flags_; }

  protected:
    void ParseVersionAndFlags(Cursor& payload) {
        version_ = payload.U8();
        flags_ = payload.U24();
    }

  private:
    uint8_t version_ = 0;
    uint32_t flags_ = 0;
};

// Makes the box object for a four-character type. Readers of other formats
// add their own box types to a copy of the standard factory.
class BoxFactory {
  public:
    using Creator = std::function<std::unique_ptr<Box>()>;

    void Add(const std::string& type, Creator creator) { creators_[type] = std::move(creator); }
    // A new box of that type, or an UnknownBox when the type is not known.
    std::unique_ptr<Box> Create(const std::string& type) const;
    bool Knows(const std::string& type) const { return creators_.count(type) != 0; }

  private:
    std::map<std::string, Creator> creators_;
};

// The boxes of the ISO base media file format that this reader understands.
BoxFactory StandardBoxFactory();

// Reads a box header from memory; `base_offset` is the file offset of the
// cursor's first byte. Throws when the box does not fit in what remains.
BoxHeader ReadBoxHeader(Cursor& cursor, uint64_t base_offset);

// Printable form of a four-character type for messages.
std::string PrintableType(std::string_view type);

}  // namespace mp4
