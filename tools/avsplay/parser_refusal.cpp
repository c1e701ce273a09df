#include "tools/avsplay/parser_refusal.h"

#include "com/memory.h"
#include "dshow/streams.h"
#include "filesource/refusal.h"
#include "filtermodule/module_ids.h"

namespace avsplay {

std::optional<std::string> ParserRefusal(const std::string& path) {
    // Without the module registered, no parser refused anything.
    avs::com::ComPtr<IBaseFilter> parser;
    if (FAILED(CoCreateInstance(CLSID_BranwickSource, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IBaseFilter, parser.PutVoid())))
        return std::nullopt;
    return filesource::container_refusal(path);
}

}  // namespace avsplay
