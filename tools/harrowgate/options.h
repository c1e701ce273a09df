#pragma once

#include <optional>
#include <string>
#include <vector>

namespace harrowgate {

// Most B pictures between two references: beyond a few the references are too far apart
// for their prediction to help.
constexpr int kMaxBPictures = 7;

// The encoder's command line: SOURCE OUT.avs followed by "-x value" options.
struct Options {
    std::string source;
    std::string output;
    std::optional<int> width;          // -w, used only together with -h
    std::optional<int> height;         // -h
    int gop_length = 18;               // -g: an intra picture every this many pictures
    int qp = 24;                       // -q: quantisation parameter 0..63
    std::optional<double> frame_rate;  // -n: frames per second for the sequence header
    int search_range = 32;             // -m: largest vector component, in whole samples
    bool rate_control = false;         // -a: non-zero aims at -s kbit/s, starting at -q
                                       // (without -s: -q alone, with a note)
    int bit_rate_kbit = 0;             // -s: target of the rate control, kbit/s
    bool loop_filter = true;           // -l: the standard's deblocking filter
    int threads = 1;                   // -t: worker threads
    bool rdo = false;                  // -o: choose macroblock codings by cost
    bool progressive = true;           // -p: 0 codes interlaced frames (see the README)
    int b_pictures = 0;                // -b: B pictures between references, 0..kMaxBPictures
    // Accepted and ignored: -f (see the README).
    // -c 1 is 4:2:0, the only chroma format of the profile; -c 2 (4:2:2) is refused.
};

struct ParseResult {
    std::optional<Options> options;
    std::string error;  // one line when options is empty
    std::string note;   // one line about a value brought into range, or empty
    bool help = false;  // --help was asked for
};

ParseResult ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

// base.dat beside OUT: OUT without a trailing ".avs" (any case), then ".dat".
std::string TimestampPathFor(const std::string& output);

}  // namespace harrowgate
