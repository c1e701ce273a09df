#pragma once

#include <optional>
#include <string>
#include <vector>

namespace harrowgate {

// The encoder's command line: SOURCE OUT.avs followed by "-x value" options.
struct Options {
    std::string source;
    std::string output;
    std::optional<int> width;          // -w, used only together with -h
    std::optional<int> height;         // -h
    int gop_length = 18;               // -g: an intra picture every this many pictures
    int qp = 24;                       // -q: quantisation parameter 0..63
    std::optional<double> frame_rate;  // -n: frames per second for the sequence header
    // Accepted and ignored: -c -p -b -a -f -s -o -m -t -l (see the README).
};

struct ParseResult {
    std::optional<Options> options;
    std::string error;  // one line when options is empty
    bool help = false;  // --help was asked for
};

ParseResult ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

// base.dat beside OUT: OUT without a trailing ".avs" (any case), then ".dat".
std::string TimestampPathFor(const std::string& output);

}  // namespace harrowgate
