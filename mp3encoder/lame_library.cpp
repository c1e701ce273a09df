#include "lame_library.h"

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
    InitStream = Export<BEINITSTREAM>(handle_, "beInitStream");
    EncodeChunk = Export<BEENCODECHUNK>(handle_, "beEncodeChunk");
    DeinitStream = Export<BEDEINITSTREAM>(handle_, "beDeinitStream");
    CloseStream = Export<BECLOSESTREAM>(handle_, "beCloseStream");
    Version = Export<BEVERSION>(handle_, "beVersion");
    WriteVBRHeader = Export<BEWRITEVBRHEADER>(handle_, "beWriteVBRHeader");
    WriteInfoTag = Export<BEWRITEINFOTAG>(handle_, "beWriteInfoTag");
    if (!InitStream || !EncodeChunk || !DeinitStream || !CloseStream || !Version || !WriteVBRHeader)
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
