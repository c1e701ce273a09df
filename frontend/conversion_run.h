#pragma once
// One batch run over the file list: for each source the video and audio encoders, then the
// container builder (twice) or the multiplexer, then the intermediate files are removed.

#include <string>

#include "frontend/child_runner.h"
#include "frontend/conversion_settings.h"

namespace avs::frontend {

enum class Target { kContainer, kTransportStream };

// What a run needs of the main dialog besides what the child runner needs.
class ConversionUi : public RunnerUi {
  public:
    virtual int FileCount() = 0;
    virtual std::string FileAt(int index) = 0;
    virtual void RemoveFileAt(int index) = 0;
    // The buttons that would start or change a run; About and Exit stay enabled.
    virtual void SetRunControlsEnabled(bool enabled) = 0;
    virtual void SetProgressRange(int low, int high) = 0;
    virtual void SetWaitCursor(bool on) = 0;
};

enum class RunResult {
    kEmptyList,  // nothing to do; the user was told
    kFinished,   // the list was worked off
    kRefused,    // the list was worked off but for refused sources, which stay in it
    kStopped,    // the closing flag was found set before a child
    kFatal,      // a piped stage failed to start; the program must end
};

struct RunRequest {
    Target target;
    ConversionSettings settings;  // read once at the start
    std::string start_dir;        // where the child programs are and run
};

// closing is the dialog's closing flag, set by Exit from a handler nested in a piped stage.
RunResult RunConversion(const RunRequest& request, ChildRunner& runner, ConversionUi& ui,
                        const bool& closing);

}  // namespace avs::frontend
