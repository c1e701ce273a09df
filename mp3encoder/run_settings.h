// Everything one run of Quenby takes from its command line.
#pragma once

#include <string>

namespace quenby {

struct RunSettings {
    std::string input_path;
    std::string output_path;
    unsigned bitrate = 64;     // CBR bit rate, or the VBR minimum (kbit/s)
    unsigned vbr_bitrate = 0;  // VBR maximum; VBR is on when it is at least `bitrate`
    unsigned sample_rate = 0;  // output rate in Hz; 0 keeps the source rate
    int mode = -1;             // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono; -1 chooses
};

}  // namespace quenby
