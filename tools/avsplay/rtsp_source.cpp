#include "tools/avsplay/rtsp_source.h"

#include <cstdio>

#include "filtermodule/module_ids.h"

namespace avsplay {

namespace {

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace

bool IsRtspAddress(const std::string& input) {
    return input.rfind("rtsp://", 0) == 0 || input.rfind("rtsp2://", 0) == 0;
}

HRESULT OpenRtspSource(IGraphBuilder* graph, const std::string& address, IBaseFilter** source,
                       std::string& error) {
    *source = nullptr;
    avs::com::ComPtr<IBaseFilter> filter;
    HRESULT hr = CoCreateInstance(CLSID_Tallowmere, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  filter.PutVoid());
    if (FAILED(hr)) {
        error = "the stream source is not available (" + Hex(hr) +
                "); is the Tallowmere module registered?";
        return hr;
    }
    hr = graph->AddFilter(filter.Get(), L"Tallowmere");
    if (FAILED(hr)) {
        error = "cannot add the stream source to the graph (" + Hex(hr) + ")";
        return hr;
    }
    auto file = filter.As<IFileSourceFilter>(IID_IFileSourceFilter);
    std::wstring wide;
    for (unsigned char c : address) wide += static_cast<wchar_t>(c);
    hr = file ? file->Load(wide.c_str(), nullptr) : E_NOINTERFACE;
    if (hr != S_OK) {
        error = "cannot play " + address;
        graph->RemoveFilter(filter.Get());
        return FAILED(hr) ? hr : E_FAIL;
    }
    *source = filter.Detach();
    return S_OK;
}

}  // namespace avsplay
