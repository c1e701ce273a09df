// The lame_enc module, loaded by name at run time and reached through its exports.
#pragma once

#include <string>
#include <vector>

#include "lame_enc/blade_enc.h"

namespace quenby {

class LameLibrary {
  public:
    enum class LoadResult { kOk, kNotLoaded, kMissingExports };

    LameLibrary() = default;
    ~LameLibrary();
    LameLibrary(const LameLibrary&) = delete;
    LameLibrary& operator=(const LameLibrary&) = delete;

    // Loads the first of `candidates` that opens and looks up its exports. Six are required;
    // beWriteInfoTag may be missing.
    LoadResult Load(const std::vector<std::string>& candidates);

    BEINITSTREAM init_stream = nullptr;
    BEENCODECHUNK encode_chunk = nullptr;
    BEDEINITSTREAM deinit_stream = nullptr;
    BECLOSESTREAM close_stream = nullptr;
    BEVERSION version = nullptr;
    BEWRITEVBRHEADER write_vbr_header = nullptr;
    BEWRITEINFOTAG write_info_tag = nullptr;

  private:
    void* handle_ = nullptr;
};

// The module's file name: lame_enc.so, or lame_enc.dll on Windows.
std::string LameModuleName();

// Where the module is looked for, in order: beside the running program, then by bare name
// through the system's search path.
std::vector<std::string> LameModuleCandidates();

}  // namespace quenby
