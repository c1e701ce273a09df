#pragma once

#include <chrono>
#include <string>

namespace rtspserve {

// The server's lines for standard error. They are queued and written by a thread of
// their own, so a reader of standard error that stops reading holds up neither a
// connection nor the end of the program: when the queue is full a line is dropped, and
// a count of the dropped lines is written once there is room again. Every server in the
// process shares the one queue; a line longer than about 1 KiB is cut.
void LogLine(std::string line);

// Waits until every queued line has been written, at most `timeout`. False when the
// writer is still held up (standard error is not being read).
bool FlushLog(std::chrono::milliseconds timeout);

// Lines the queue holds before it drops one.
inline constexpr size_t kLogQueueLines = 1024;

}  // namespace rtspserve
