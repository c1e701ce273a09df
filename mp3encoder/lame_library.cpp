#include "mp3encoder/lame_library.h"

#include "module/module.h"

namespace quenby {
namespace {

template <typename Fn>
Fn Export(void* module, const char* name) {
    return reinterpret_cast<Fn>(avs::module::FindExport(module, name));
}

}  // namespace

LameLibrary::~LameLibrary() {
    avs::module::CloseModule(handle_);
}

LameLibrary::LoadResult LameLibrary::Load(const std::vector<std::string>& candidates) {
    for (const std::string& name : candidates) {
        handle_ = avs::module::OpenModule(name);
        if (handle_ != nullptr) break;
    }
    if (handle_ == nullptr) return LoadResult::kNotLoaded;
    init_stream = Export<BEINITSTREAM>(handle_, "beInitStream");
    encode_chunk = Export<BEENCODECHUNK>(handle_, "beEncodeChunk");
    deinit_stream = Export<BEDEINITSTREAM>(handle_, "beDeinitStream");
    close_stream = Export<BECLOSESTREAM>(handle_, "beCloseStream");
    version = Export<BEVERSION>(handle_, "beVersion");
    write_vbr_header = Export<BEWRITEVBRHEADER>(handle_, "beWriteVBRHeader");
    write_info_tag = Export<BEWRITEINFOTAG>(handle_, "beWriteInfoTag");
    if (!init_stream || !encode_chunk || !deinit_stream || !close_stream || !version ||
        !write_vbr_header)
        return LoadResult::kMissingExports;
    return LoadResult::kOk;
}

std::vector<std::string> LameModuleCandidates() {
    return avs::module::ProgramModuleCandidates(LameModuleName());
}

std::string LameModuleName() {
    return avs::module::ModuleFileName("lame_enc");
}

}  // namespace quenby
