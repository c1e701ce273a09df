// Puts the finished VBR/Info header frame over the placeholder frame that opens an MP3 file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lame_enc/blade_enc.h"

namespace lame_enc {

// Where the first audio frame starts, given the file's first bytes: after an ID3v2 tag if the
// file opens with one, else 0. Needs at least 10 bytes to see a tag; nullopt when the tag header
// is malformed.
std::optional<std::uint64_t> FirstFrameOffset(const unsigned char* head, std::size_t size);

// True when the 4 bytes at `at` are a frame header of the same size and channel mode as the tag
// frame's: the placeholder the encoder reserved looks like that.
bool IsPlaceholderFor(const unsigned char* at, std::size_t size,
                      const std::vector<unsigned char>& tag_frame);

// Overwrites the placeholder in `path` (UTF-8, like every path in the tool set) with `tag_frame`.
// Leaves the file alone and returns an error when the file does not open with a matching
// placeholder.
BE_ERR WriteTagFrame(const char* path, const std::vector<unsigned char>& tag_frame);

}  // namespace lame_enc
