#include "rtspstream/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace rtspstream {

namespace {
std::atomic<TraceSink> g_sink{nullptr};
}

void SetTraceSink(TraceSink sink) {
    g_sink.store(sink);
}

void Trace(const char* format, ...) {
    TraceSink sink = g_sink.load();
    if (!sink) return;
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    sink(line);
}

}  // namespace rtspstream
