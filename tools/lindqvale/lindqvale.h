// Lindqvale: builds an AVS media container (.asm) from an AVS1-P2 video
// elementary stream, then adds an MP3 audio track to it.
//
//   Lindqvale in.avs out.asm -f   creates out.asm with the video track
//   Lindqvale in.mp3 out.asm      rewrites out.asm with the audio track added
#pragma once

#include <cstdio>

namespace lindqvale {

// Runs the program; messages go to `out` (summary) and `err` (one-line
// errors). Returns the exit code: 0 done, 1 failed, 2 bad command line.
int Run(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace lindqvale
