#include "frontend/child_runner.h"

#include <cstdio>
#include <span>

namespace avs::frontend {

PipedOutcome ChildRunner::RunPipedChild(const std::string& command_line,
                                        const ProgressStage& stage) {
    process::ChildProcess child;
    switch (child.Start(command_line, process::OutputMode::kPipe)) {
        case process::StartError::kNone:
            break;
        case process::StartError::kPipe:
            ui_.ShowMessage("Error On CreatePipe()");
            return PipedOutcome::kFatal;
        case process::StartError::kSpawn:
            ui_.ShowMessage("Create Process failed!");
            return PipedOutcome::kFatal;
        case process::StartError::kCloseWriteEnd:
            child.Terminate();
            child.Wait();
            ui_.ShowMessage("Close Handle failed!");
            return PipedOutcome::kFatal;
    }
    child_ = &child;
    poll_passes_ = 0;
    for (;;) {
        ++poll_passes_;
        const process::ReadResult r = child.Read(std::span<char>(buffer_.data(), kReadChunk));
        const bool scanned = r.status == process::ReadStatus::kData && r.bytes >= stage.min_read;
        if (scanned) {
            if (const std::optional<int> value = ScanProgress(buffer_, r.bytes, stage)) {
                char text[16];
                std::snprintf(text, sizeof text, "%d%%", *value);
                ui_.SetProgress(*value);
                ui_.SetPercentText(text);
            }
        } else if (child.HasExited()) {
            break;
        }
        ui_.PumpEvents();
        // Rather than spin, wait a little for more output; events are pumped again soon.
        if (!scanned) child.WaitForOutput(kPollWaitMs);
    }
    ui_.SetProgress(stage.end_value);
    ui_.SetPercentText(stage.end_text);
    child.ClosePipe();
    child_ = nullptr;
    return PipedOutcome::kEnded;
}

void ChildRunner::RunChildAndWait(const std::string& command_line) {
    process::ChildProcess child;
    // A child that cannot be started is passed over without a word.
    if (child.Start(command_line, process::OutputMode::kInherit) != process::StartError::kNone)
        return;
    child_ = &child;
    child.Wait();
    child_ = nullptr;
}

void ChildRunner::TerminateRunning() {
    if (child_ != nullptr) child_->Terminate();
}

}  // namespace avs::frontend
