// Source inspection through the media detector: the stream listing on the console and the
// lengths the progress line needs.
#pragma once

#include "mp3encoder/audio_source.h"

namespace quenby {

class MediaDetInspector : public SourceInspector {
  public:
    SourceInspection Inspect(const std::string& path, FILE* console) override;
};

}  // namespace quenby
