#pragma once
// Stand-ins for the four child programs: small shell scripts in a temporary start directory
// that log their arguments, print progress and write the files the real programs leave.

#include <string>
#include <vector>

namespace avs::frontend::testing {

class StandInDir {
  public:
    // Creates a fresh directory holding Harrowgate, Quenby, Lindqvale and Korvel.
    StandInDir();
    ~StandInDir();
    StandInDir(const StandInDir&) = delete;
    StandInDir& operator=(const StandInDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    // Each call of a stand-in appends "Program|arg|arg..." to this log.
    std::vector<std::string> LogLines() const;

    // Progress chunks a stand-in prints instead of its default, each a printf format written
    // after a pause, so that every chunk arrives as a read of its own.
    void SetProgress(const std::string& program, const std::vector<std::string>& chunks);
    // Removes a stand-in so that starting it fails.
    void Remove(const std::string& program);
    // Creates an empty source file in the directory and returns its full path.
    std::string MakeSource(const std::string& name) const;

  private:
    std::string path_;
};

bool FileExists(const std::string& path);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);

}  // namespace avs::frontend::testing
