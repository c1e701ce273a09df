#include "mp3encoder/error_log.h"

#include <cstdio>

#include "clock/local_time.h"
#include "files/files.h"

namespace quenby {

std::string FormatErrorLogRecord(const std::tm& when, const std::string& input_path) {
    std::string record = "*****";
    record += avs::clock::ShortDateText(when);
    record += " ";
    record += avs::clock::Time24Text(when);
    record += "*****\r\n";
    record += "Could not connect source filter to grabber\r\n";
    record += "InputFile: ";
    record += input_path;
    record += "\r\n\r\n";
    return record;
}

void AppendErrorLog(const std::string& input_path) {
    const std::string record = FormatErrorLogRecord(avs::clock::LocalTimeNow(), input_path);
    // Byte for byte: the record carries its own CR LF line ends, which a text-mode stream on
    // Windows would turn into CR CR LF.
    FILE* log = avs::files::OpenStream(kErrorLogName, "a");
    if (log == nullptr) return;
    std::fwrite(record.data(), 1, record.size(), log);
    std::fclose(log);
}

}  // namespace quenby
