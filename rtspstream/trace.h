#pragma once

namespace rtspstream {

// Diagnostic lines of the receive side. Nothing is formatted unless a sink is
// set; the filter points it at the platform's trace hook.
using TraceSink = void (*)(const char* line);
void SetTraceSink(TraceSink sink);
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace rtspstream
