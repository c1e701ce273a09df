#include "error_log.h"

#include <locale.h>

#include <cstdio>

namespace quenby {
namespace {

// Formats with the time conventions of the environment's locale (LC_TIME), without touching
// the process-wide locale that printf's number formatting depends on.
std::string FormatTime(const char* format, const std::tm& when) {
    char text[64] = {0};
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0))
        loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    const size_t n = strftime_l(text, sizeof text, format, &when, loc);
    if (loc != static_cast<locale_t>(0)) freelocale(loc);
    return std::string(text, n);
}

}  // namespace

std::string FormatErrorLogRecord(const std::tm& when, const std::string& input_path) {
    std::string record = "*****";
    record += FormatTime("%x", when);
    record += " ";
    record += FormatTime("%H:%M:%S", when);
    record += "*****\r\n";
    record += "Could not connect source filter to grabber\r\n";
    record += "InputFile: ";
    record += input_path;
    record += "\r\n\r\n";
    return record;
}

void AppendErrorLog(const std::string& input_path) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string record = FormatErrorLogRecord(local, input_path);
    FILE* log = std::fopen(kErrorLogName, "a");
    if (log == nullptr) return;
    std::fwrite(record.data(), 1, record.size(), log);
    std::fclose(log);
}

}  // namespace quenby
