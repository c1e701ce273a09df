#include "rtspstream/bitrate_log.h"

#include <cstdio>
#include <cstdlib>

#include "files/files.h"

namespace rtspstream {

namespace {

std::string FromEnv(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : std::string();
}

// mkdir -p for the folder part of path; failures show up when the file is opened.
void MakeParents(const std::string& path) {
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        avs::files::MakeDirectory(path.substr(0, at));
}

}  // namespace

std::string BitRateLogPath() {
    std::string path = FromEnv("AVS_BITRATE_LOG");
    return path.empty() ? avs::files::StateFilePath("VideoBitRate.log") : path;
}

BitRateLog& BitRateLog::Module() {
    static BitRateLog log(BitRateLogPath());
    return log;
}

void BitRateLog::Add(uint32_t length, uint64_t now_ms) {
    std::lock_guard lock(mutex_);
    if (start_ms_ == 0) {
        start_ms_ = now_ms;
    } else if (now_ms - start_ms_ > 59999) {
        MakeParents(path_);
        if (std::FILE* f = avs::files::OpenStream(path_, writes_ == 0 ? "w" : "a+")) {
            std::fprintf(f, "%d\n", static_cast<int>(bytes_ * 8 / 1000 / 60));
            std::fclose(f);
        }
        bytes_ = 0;
        start_ms_ = now_ms;
        ++writes_;
    }
    bytes_ += length;
}

}  // namespace rtspstream
