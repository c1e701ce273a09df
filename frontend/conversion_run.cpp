#include "frontend/conversion_run.h"

#include "files/files.h"
#include "frontend/child_command_lines.h"
#include "frontend/video_options.h"
#include "process/current_directory.h"

namespace avs::frontend {
namespace {

void RemoveIfPresent(const std::string& path) {
    files::RemoveFile(path);  // a missing file or a failed removal is of no concern
}

}  // namespace

RunResult RunConversion(const RunRequest& request, ChildRunner& runner, ConversionUi& ui,
                        const bool& closing) {
    if (ui.FileCount() == 0) {
        ui.ShowMessage("Please Open Media File(s)!");
        return RunResult::kEmptyList;
    }
    // Children start in the current directory: make it the start directory for this run.
    if (!process::ChangeCurrentDirectory(request.start_dir)) {
        // Not fatal: the command lines name the programs with their full path.
    }
    ui.SetRunControlsEnabled(false);
    const std::string options = BuildVideoOptions(request.settings);
    ui.SetProgressRange(0, 100);
    ui.SetWaitCursor(true);

    const std::string& dir = request.start_dir;
    int refused = 0;  // refused sources stay at the front of the list
    while (ui.FileCount() > refused) {
        runner.ClearReadBuffer();
        ui.SetProgress(0);
        const SourceNames names =
            DeriveSourceNames(ui.FileAt(refused), request.settings.output_path);
        // Such a path would split its command line: the children would get other arguments
        // and write files where nobody asked for them.
        const std::string bad = PathTheQuotingCannotCarry(dir, names);
        if (!bad.empty()) {
            ui.ShowMessage(
                "Cannot pass a path with a double quote or a trailing backslash to "
                "the encoders: " +
                bad);
            ++refused;
            continue;
        }
        if (request.target == Target::kContainer) RemoveIfPresent(names.Asm());

        if (runner.RunPipedChild(VideoCommandLine(dir, names, options), kVideoStage) ==
            PipedOutcome::kFatal) {
            return RunResult::kFatal;
        }
        const std::string audio = AudioCommandLine(dir, names);
        if (closing) return RunResult::kStopped;
        if (runner.RunPipedChild(audio, kAudioStage) == PipedOutcome::kFatal) {
            return RunResult::kFatal;
        }

        if (request.target == Target::kContainer) {
            const std::string first = ContainerVideoCommandLine(dir, names);
            if (closing) return RunResult::kStopped;
            runner.RunChildAndWait(first);
            const std::string second = ContainerAudioCommandLine(dir, names);
            if (closing) return RunResult::kStopped;
            runner.RunChildAndWait(second);
        } else {
            const std::string mux = MultiplexCommandLine(dir, names);
            if (closing) return RunResult::kStopped;
            runner.RunChildAndWait(mux);
        }

        ui.SetProgress(100);
        ui.SetPercentText("100%");
        ui.RemoveFileAt(refused);
        RemoveIfPresent(names.Avs());
        RemoveIfPresent(names.Mp3());
        RemoveIfPresent(names.Dat());
    }

    ui.SetWaitCursor(false);
    ui.SetProgress(0);
    ui.SetPercentText("完成");
    ui.SetRunControlsEnabled(true);
    return refused > 0 ? RunResult::kRefused : RunResult::kFinished;
}

}  // namespace avs::frontend
