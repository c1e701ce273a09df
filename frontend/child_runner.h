#pragma once
// Runs one child program at a time: either piped, turning its percentages into progress while
// the user interface stays live, or waited for without reading it.

#include <string>

#include "frontend/progress_stage.h"
#include "process/child_process.h"

namespace avs::frontend {

// What the runner needs of the user interface.
class RunnerUi {
  public:
    virtual ~RunnerUi() = default;
    virtual void SetProgress(int value) = 0;
    virtual void SetPercentText(const std::string& text) = 0;
    // Handles the user-interface events that are waiting, then returns.
    virtual void PumpEvents() = 0;
    // A modal message with one OK button.
    virtual void ShowMessage(const std::string& text) = 0;
};

enum class PipedOutcome {
    kEnded,  // the child ran and ended (its exit code is not examined)
    kFatal,  // a message was shown and the program must end
};

class ChildRunner {
  public:
    explicit ChildRunner(RunnerUi& ui) : ui_(ui) {}

    // How long one poll pass may wait for child output before pumping events again.
    static constexpr int kPollWaitMs = 10;

    PipedOutcome RunPipedChild(const std::string& command_line, const ProgressStage& stage);
    void RunChildAndWait(const std::string& command_line);

    // Ends the running child at once; nothing happens when none runs.
    void TerminateRunning();
    bool Running() const { return child_ != nullptr; }

    void ClearReadBuffer() { buffer_.fill(0); }
    const ReadBuffer& Buffer() const { return buffer_; }

    // Poll passes of the last piped run, for checking that the loop waits.
    long LastPollPasses() const { return poll_passes_; }

  private:
    RunnerUi& ui_;
    process::ChildProcess* child_ = nullptr;  // the running child, null when none runs
    ReadBuffer buffer_{};
    long poll_passes_ = 0;
};

}  // namespace avs::frontend
