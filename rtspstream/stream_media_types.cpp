#include "rtspstream/stream_media_types.h"

#include <cstring>

#include "avs/tables.h"
#include "filtermodule/module_ids.h"

namespace rtspstream {

namespace {

int TableIndex(int32_t code) {
    return code >= 0 && code < 16 ? code : 0;
}

GUID WaveSubtype(WORD tag) {
    GUID g = MEDIASUBTYPE_MPEG1AudioPayload;
    g.Data1 = tag;
    return g;
}

}  // namespace

HRESULT BuildVideoMediaType(const avs::AvsSequenceHeader& header, CMediaType* mt) {
    CheckPointer(mt, E_POINTER);
    mt->ResetFormatBuffer();
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&MEDIASUBTYPE_TallowmereVideo);
    mt->SetFormatType(&FORMAT_AvsVideo);
    BYTE* block = mt->AllocFormatBuffer(kVideoFormatBytes);
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memset(block, 0, kVideoFormatBytes);
    auto* info = reinterpret_cast<MPEG1VIDEOINFO*>(block);
    VIDEOINFOHEADER& v = info->hdr;
    v.rcSource.right = header.horizontal_size;
    v.rcSource.bottom = header.vertical_size;
    v.dwBitRate = static_cast<DWORD>(header.bit_rate);  // units of 400 bit/s, as decoded
    v.AvgTimePerFrame = avs::kFrameTimeTable[TableIndex(header.frame_rate_code)];
    v.bmiHeader.biSize = 40;
    v.bmiHeader.biWidth = header.horizontal_size;
    v.bmiHeader.biHeight = header.vertical_size;
    v.bmiHeader.biPlanes = 1;
    v.bmiHeader.biBitCount = 16;
    v.bmiHeader.biXPelsPerMeter = 2000;
    v.bmiHeader.biYPelsPerMeter =
        MulDiv(2000, avs::kPelAspectTable[TableIndex(header.aspect_ratio_information)], 10000);
    info->cbSequenceHeader = 18;
    std::memcpy(block + offsetof(MPEG1VIDEOINFO, bSequenceHeader), header.header_bytes, 18);
    mt->SetTemporalCompression(TRUE);
    mt->SetVariableSize();
    return S_OK;
}

HRESULT BuildAudioMediaType(const AudioFormatRecord& record, CMediaType* mt) {
    CheckPointer(mt, E_POINTER);
    mt->ResetFormatBuffer();
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Audio);
    GUID sub = WaveSubtype(WAVE_FORMAT_MPEG);
    mt->SetSubtype(&sub);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    BYTE* block = mt->AllocFormatBuffer(kAudioFormatBytes);
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memset(block, 0, kAudioFormatBytes);
    auto* w = reinterpret_cast<MPEG1WAVEFORMAT*>(block);
    w->wfx.wFormatTag = WAVE_FORMAT_MPEG;
    w->wfx.nChannels = 2;
    w->wfx.nSamplesPerSec = record.n_samples_per_sec;
    w->wfx.nAvgBytesPerSec = record.n_avg_bytes_per_sec;
    w->wfx.nBlockAlign = 1;
    w->wfx.wBitsPerSample = 0;
    w->wfx.cbSize = 22;
    w->fwHeadLayer = ACM_MPEG_LAYER2;
    w->dwHeadBitrate = record.n_avg_bytes_per_sec * 8;
    w->fwHeadMode = ACM_MPEG_STEREO;
    w->fwHeadModeExt = 16;
    w->wHeadEmphasis = 1;
    w->fwHeadFlags = 0x18;
    mt->SetVariableSize();
    return S_OK;
}

HRESULT CheckVideoMediaType(const CMediaType* mt) {
    CheckPointer(mt, E_POINTER);
    if (*mt->Type() != MEDIATYPE_Video || *mt->Subtype() != MEDIASUBTYPE_TallowmereVideo ||
        *mt->FormatType() != FORMAT_AvsVideo)
        return E_INVALIDARG;
    return S_OK;
}

HRESULT CheckAudioMediaType(const CMediaType* mt, WORD format_tag) {
    CheckPointer(mt, E_POINTER);
    GUID sub = WaveSubtype(format_tag);
    if (*mt->Type() != MEDIATYPE_Audio || *mt->Subtype() != sub ||
        *mt->FormatType() != FORMAT_WaveFormatEx)
        return E_INVALIDARG;
    return S_OK;
}

}  // namespace rtspstream
