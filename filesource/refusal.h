// Why the file source refuses a file that carries the container's signature,
// for a player that would otherwise only learn that no filter took the file.
// The filter runs inside a module that the player reaches only through the
// graph, so the player runs the same checks over the file itself.
#pragma once

#include <optional>
#include <string>

#include "mp4/byte_source.h"

namespace filesource {

// The checks the filter's load makes, in its order: the container opens, and
// the video track (if any) has an AVS sample entry and a readable first
// sample. Nothing when the signature is missing (not our file to explain) or
// when the file would load; otherwise the reader's reason.
std::optional<std::string> container_refusal(mp4::ByteSource& source);
// The same for a file by name; nothing when it cannot be opened.
std::optional<std::string> container_refusal(const std::string& path);

}  // namespace filesource
