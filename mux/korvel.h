// The Korvel program: command line, start-up, audio validation and the interleaving of
// video access units with audio frames into a transport stream.
#pragma once

#include <cstdint>
#include <cstdio>

namespace mux {

// Runs the whole program on its arguments (argv[0] is the program name). The usage line
// goes to `out`, errors and warnings to `err`. Returns the process exit code.
int RunKorvel(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

// PAT/PMT repetition period in transport packets for a video bit rate in units of
// 400 bit/s and an audio bit rate in kbit/s.
int32_t PsiPeriodFor(int32_t video_bit_rate, int audio_kbps);

// 90 kHz ticks per audio frame, truncated.
int32_t AudioFrameDurationFor(int samples_per_frame, int sample_rate);

}  // namespace mux
