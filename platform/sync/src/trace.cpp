// The trace hook: lines go to the sink a test sets, else to the platform's trace output
// (WriteTraceLine), when AVS_TRACE is set to something other than 0.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sync/forever.h"
#include "sync/sync.h"
#include "trace_output.h"

namespace {

std::function<void(const std::string&)>& TraceSink() {
    static auto* f = avs::Forever(new std::function<void(const std::string&)>);
    return *f;
}
std::mutex& TraceMutex() {
    static auto* m = avs::Forever(new std::mutex);
    return *m;
}

}  // namespace

bool AvsTraceEnabled() {
    {
        std::lock_guard<std::mutex> lock(TraceMutex());
        if (TraceSink()) return true;
    }
    const char* v = std::getenv("AVS_TRACE");
    return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

void AvsTrace(const char* format, ...) {
    if (!AvsTraceEnabled()) return;
    char buf[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    std::string line = buf;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::lock_guard<std::mutex> lock(TraceMutex());
    if (TraceSink())
        TraceSink()(line);
    else
        avs::sync::WriteTraceLine(line);
}

void AvsSetTraceSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(TraceMutex());
    TraceSink() = std::move(sink);
}
