// Failures of the box reader. Raised anywhere inside mp4/ and caught by whoever
// offers a non-throwing API on top of it.
#pragma once

#include <stdexcept>
#include <string>

namespace mp4 {

class Mp4Error : public std::runtime_error {
  public:
    explicit Mp4Error(const std::string& what) : std::runtime_error(what) {}
};

// The text every short read reports, whatever the byte source.
inline constexpr const char* kEndOfFileMessage = "not enough bytes, reached end-of-file";

}  // namespace mp4
