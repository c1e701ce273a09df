#pragma once
// A main dialog without Qt: records what a run shows and keeps the file list in memory.

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "frontend/conversion_run.h"

namespace avs::frontend::testing {

class FakeUi : public ConversionUi {
  public:
    std::vector<std::string> files;  // kept sorted, as the list box keeps them
    std::vector<std::string> shown;  // "bar N", "label T", "message T", ...
    std::vector<std::string> messages;
    std::function<void()> on_pump;
    long pumps = 0;
    bool controls_enabled = true;
    bool wait_cursor = false;

    void SetProgress(int value) override { shown.push_back("bar " + std::to_string(value)); }
    void SetPercentText(const std::string& text) override { shown.push_back("label " + text); }
    void PumpEvents() override {
        ++pumps;
        if (on_pump) on_pump();
    }
    void ShowMessage(const std::string& text) override {
        messages.push_back(text);
        shown.push_back("message " + text);
    }
    int FileCount() override { return static_cast<int>(files.size()); }
    std::string FileAt(int index) override { return files.at(index); }
    void RemoveFileAt(int index) override { files.erase(files.begin() + index); }
    void SetRunControlsEnabled(bool enabled) override {
        controls_enabled = enabled;
        shown.push_back(enabled ? "enable" : "disable");
    }
    void SetProgressRange(int low, int high) override {
        shown.push_back("range " + std::to_string(low) + ".." + std::to_string(high));
    }
    void SetWaitCursor(bool on) override { wait_cursor = on; }

    void Add(const std::string& path) {
        files.push_back(path);
        std::sort(files.begin(), files.end());
    }
    // The values shown, without the other entries.
    std::vector<std::string> Progress() const {
        std::vector<std::string> out;
        for (const std::string& s : shown) {
            if (s.rfind("bar ", 0) == 0 || s.rfind("label ", 0) == 0) out.push_back(s);
        }
        return out;
    }
};

}  // namespace avs::frontend::testing
