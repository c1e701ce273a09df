// What avsplay says when no registered filter played a file: if the container
// parser is registered and the file carries its signature, the reason the
// parser refused it.
#pragma once

#include <optional>
#include <string>

namespace avsplay {

// The parser's reason for refusing `path`, or nothing when the parser is not
// registered, the file is not a container, or the parser would take it.
std::optional<std::string> ParserRefusal(const std::string& path);

}  // namespace avsplay
