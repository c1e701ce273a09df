#include "mp3encoder/dshow_source/media_det_listing.h"

#include <algorithm>
#include <cstdio>

#include "dshow/media_det.h"

namespace quenby {
namespace {

using avs::com::ComPtr;

std::string TypeName(const GUID& g, const GUID& a, const char* a_name, const GUID& b,
                     const char* b_name) {
    if (g == a) return a_name;
    if (g == b) return b_name;
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

void PrintFailure(FILE* console, const char* what, HRESULT hr) {
    std::fprintf(console, "%s(): res=0x%08x\n", what, static_cast<unsigned>(hr));
}

struct VideoFacts {
    int width = 0, height = 0, bits = 0;
};

}  // namespace

SourceInspection MediaDetInspector::Inspect(const std::string& path, FILE* console) {
    SourceInspection result;
    ComPtr<IMediaDet> det;
    HRESULT hr = CoCreateInstance(CLSID_MediaDet, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaDet,
                                  det.PutVoid());
    if (FAILED(hr)) {
        PrintFailure(console, "CoCreateInstance", hr);
        return result;
    }
    BSTR name = SysAllocString(avs::com::Widen(path).c_str());
    hr = det->put_Filename(name);
    SysFreeString(name);
    if (FAILED(hr)) {
        PrintFailure(console, "put_Filename", hr);
        return result;
    }
    LONG streams = 0;
    hr = det->get_OutputStreams(&streams);
    if (FAILED(hr)) {
        PrintFailure(console, "get_OutputStreams", hr);
        return result;
    }

    LONG video = -1;
    VideoFacts facts;
    for (LONG i = 0; i < streams; ++i) {
        hr = det->put_CurrentStream(i);
        if (FAILED(hr)) {
            PrintFailure(console, "put_CurrentStream", hr);
            return result;
        }
        CMediaType mt;
        hr = det->get_StreamMediaType(&mt);
        if (FAILED(hr)) {
            PrintFailure(console, "get_StreamMediaType", hr);
            return result;
        }
        const bool is_video = mt.majortype == MEDIATYPE_Video;
        std::fprintf(console, "[%2d] majortype: %s %c\n", static_cast<int>(i),
                     TypeName(mt.majortype, MEDIATYPE_Video, "MEDIATYPE_Video", MEDIATYPE_Audio,
                              "MEDIATYPE_Audio")
                         .c_str(),
                     is_video ? '*' : ' ');
        std::fprintf(console, "     formattype: %s\n",
                     TypeName(mt.formattype, FORMAT_VideoInfo, "FORMAT_VideoInfo",
                              FORMAT_WaveFormatEx, "FORMAT_WaveFormatEx")
                         .c_str());
        if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
            const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
            const BITMAPINFOHEADER& bmi = vih->bmiHeader;
            std::fprintf(console, "     (%dx%dx%d '%4.4s')\n", static_cast<int>(bmi.biWidth),
                         static_cast<int>(bmi.biHeight), static_cast<int>(bmi.biBitCount),
                         reinterpret_cast<const char*>(&bmi.biCompression));
            facts = {static_cast<int>(bmi.biWidth), static_cast<int>(bmi.biHeight),
                     static_cast<int>(bmi.biBitCount)};
        }
        if (is_video) video = i;
        // Without video the progress follows the longest stream.
        double length = 0;
        if (SUCCEEDED(det->get_StreamLength(&length)))
            result.media_length = std::max(result.media_length, length);
    }
    if (video < 0) {
        std::fprintf(console, "No video stream found!\n");
        return result;
    }
    double rate = 0, length = 0;
    hr = det->put_CurrentStream(video);
    if (SUCCEEDED(hr)) hr = det->get_FrameRate(&rate);
    if (SUCCEEDED(hr)) hr = det->get_StreamLength(&length);
    if (FAILED(hr)) {
        PrintFailure(console, "get_FrameRate/StreamLength", hr);
        return result;
    }
    result.has_video = true;
    result.video_length = length;
    std::fprintf(
        console, "Length of Video: %gs\r\nAuthored Frame Rate: %gfps\r\n(%d frames of %dx%dx%d)\n",
        length, rate, static_cast<int>(length * rate), facts.width, facts.height, facts.bits);
    return result;
}

}  // namespace quenby
