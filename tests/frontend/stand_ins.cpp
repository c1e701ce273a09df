#include "stand_ins.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace avs::frontend::testing {
namespace {

// Shared head of every stand-in: log the call, then print the progress chunks if a file names
// them. A source whose name contains "hang" makes the video encoder hang after its first
// output, as a long encode would.
const char kPrelude[] = R"(#!/bin/sh
here=$(dirname "$0")
me=$(basename "$0")
{ printf '%s' "$me"; for a in "$@"; do printf '|%s' "$a"; done; echo; } >> "$here/log.txt"
progress() {
  if [ -f "$here/$me.progress" ]; then
    while IFS= read -r chunk; do sleep 0.15; printf -- "$chunk"; done < "$here/$me.progress"
    sleep 0.15
  else
    printf -- "$1"
  fi
}
)";

const char kHarrowgate[] = R"(printf 'avs of %s\n' "$1" > "$2"
case "$1" in *hang*) printf '  5%%\n'; sleep 30 ;; esac
progress '  10%%\n'
printf 'dat\n' > "${2%.avs}.dat"
)";

const char kQuenby[] = R"(progress '\rProgress:\t  50%%'
printf 'mp3 of %s\n' "$1" > "$2"
)";

const char kLindqvale[] = R"(if [ "$3" = "-f" ]; then cat "$1" > "$2"; else cat "$1" >> "$2"; fi
)";

const char kKorvel[] = R"(cat "$1" "$2" "$3" > "$4"
)";

}  // namespace

bool FileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

StandInDir::StandInDir() {
    char tmpl[] = "/tmp/ostrander_test_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
    const std::pair<const char*, const char*> programs[] = {{"Harrowgate", kHarrowgate},
                                                            {"Quenby", kQuenby},
                                                            {"Lindqvale", kLindqvale},
                                                            {"Korvel", kKorvel}};
    for (const auto& [name, body] : programs) {
        const std::string file = File(name);
        WriteFile(file, std::string(kPrelude) + body);
        chmod(file.c_str(), 0755);
    }
}

StandInDir::~StandInDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> StandInDir::LogLines() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(File("log.txt")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void StandInDir::SetProgress(const std::string& program, const std::vector<std::string>& chunks) {
    std::string text;
    for (const std::string& chunk : chunks) text += chunk + "\n";
    WriteFile(File(program + ".progress"), text);
}

void StandInDir::Remove(const std::string& program) {
    unlink(File(program).c_str());
}

std::string StandInDir::MakeSource(const std::string& name) const {
    const std::string file = File(name);
    WriteFile(file, "source");
    return file;
}

}  // namespace avs::frontend::testing
