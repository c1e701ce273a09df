// The append-only log of sources whose audio could not be connected.
#pragma once

#include <ctime>
#include <string>

namespace quenby {

inline constexpr const char* kErrorLogName = "AudioErrorInfo.txt";

// One record for `input_path` stamped with the local time `when`: the date in the locale's
// short form, the time as 24-hour hh:mm:ss.
std::string FormatErrorLogRecord(const std::tm& when, const std::string& input_path);

// Appends a record stamped now to AudioErrorInfo.txt in the current directory. A log that
// cannot be opened is not reported: the run's own message has already said what failed.
void AppendErrorLog(const std::string& input_path);

}  // namespace quenby
