#include "filesource/media_types.h"

#include <algorithm>
#include <cstring>

#include "avs/tables.h"
#include "filtermodule/module_ids.h"

namespace filesource {

HRESULT make_video_media_type(const avs::AvsSequenceHeader& h, CMediaType* type) {
    CheckPointer(type, E_POINTER);
    type->ResetFormatBuffer();  // a type filled before keeps no block of its own
    type->InitMediaType();
    type->SetType(&MEDIATYPE_Video);
    type->SetSubtype(&MEDIASUBTYPE_AVS2);
    type->SetFormatType(&FORMAT_AvsVideo);
    BYTE* block = type->AllocFormatBuffer(kAvsVideoFormatSize);
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memset(block, 0, kAvsVideoFormatSize);
    auto* info = reinterpret_cast<MPEG1VIDEOINFO*>(block);
    info->hdr.rcSource.right = h.horizontal_size;
    info->hdr.rcSource.bottom = h.vertical_size;
    info->hdr.dwBitRate = static_cast<DWORD>(h.bit_rate);  // 400 bit/s units, as coded
    info->hdr.AvgTimePerFrame = avs::kFrameTimeTable[h.frame_rate_code & 15];
    BITMAPINFOHEADER& bmi = info->hdr.bmiHeader;
    bmi.biSize = sizeof(BITMAPINFOHEADER);
    bmi.biWidth = h.horizontal_size;
    bmi.biHeight = h.vertical_size;
    bmi.biPlanes = 1;
    bmi.biBitCount = 16;
    bmi.biCompression = 0x32535641;  // 'AVS2'
    bmi.biXPelsPerMeter = 2000;
    bmi.biYPelsPerMeter =
        MulDiv(2000, avs::kPelAspectTable[h.aspect_ratio_information & 15], 10000);
    info->cbSequenceHeader = kFormatHeaderBytes;
    std::memcpy(info->bSequenceHeader, h.header_bytes, kFormatHeaderBytes);
    return S_OK;
}

HRESULT make_audio_media_type(uint32_t rate, CMediaType* type) {
    CheckPointer(type, E_POINTER);
    type->ResetFormatBuffer();  // a type filled before keeps no block of its own
    type->InitMediaType();
    type->SetType(&MEDIATYPE_Audio);
    const GUID sub = wave_format_subtype(WAVE_FORMAT_MPEGLAYER3);
    type->SetSubtype(&sub);
    type->SetFormatType(&FORMAT_WaveFormatEx);
    BYTE* block = type->AllocFormatBuffer(sizeof(MPEG1WAVEFORMAT));
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memset(block, 0, sizeof(MPEG1WAVEFORMAT));
    auto* wf = reinterpret_cast<MPEG1WAVEFORMAT*>(block);
    wf->wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    wf->wfx.nChannels = 2;
    wf->wfx.nSamplesPerSec = rate;
    wf->wfx.nAvgBytesPerSec = rate;
    wf->wfx.nBlockAlign = 1;
    wf->wfx.wBitsPerSample = 0;
    wf->wfx.cbSize = 22;
    wf->fwHeadLayer = ACM_MPEG_LAYER2;
    wf->dwHeadBitrate = rate * 8;
    wf->fwHeadMode = ACM_MPEG_STEREO;
    wf->fwHeadModeExt = 16;
    wf->wHeadEmphasis = 1;
    wf->fwHeadFlags = 0x18;
    return S_OK;
}

GUID wave_format_subtype(WORD tag) {
    return GUID{tag, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

}  // namespace filesource
