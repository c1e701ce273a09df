// Source inspection over FFmpeg: the stream listing a media detector gives, for the time the
// platform has none.
#pragma once

#include "audio_source.h"

namespace quenby {

class FfmpegSourceInspector : public SourceInspector {
  public:
    FfmpegSourceInspector();
    SourceInspection Inspect(const std::string& path, FILE* console) override;
};

}  // namespace quenby
