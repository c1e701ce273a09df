// Audio and video format blocks (mmreg.h, wingdi.h and amvideo.h layouts). The byte
// offsets are those of 32-bit Windows and are checked below.
#pragma once

#ifdef _WIN32
// Windows has these: the SDK's headers take the place of this one.
#include "dshow/sdk_compat.h"
#else
#include <cstddef>

#include "com/types.h"

constexpr WORD WAVE_FORMAT_PCM = 0x0001;
constexpr WORD WAVE_FORMAT_MPEG = 0x0050;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;

constexpr WORD ACM_MPEG_LAYER1 = 0x0001;
constexpr WORD ACM_MPEG_LAYER2 = 0x0002;
constexpr WORD ACM_MPEG_LAYER3 = 0x0004;
constexpr WORD ACM_MPEG_STEREO = 0x0001;
constexpr WORD ACM_MPEG_JOINTSTEREO = 0x0002;
constexpr WORD ACM_MPEG_DUALCHANNEL = 0x0004;
constexpr WORD ACM_MPEG_SINGLECHANNEL = 0x0008;
constexpr WORD ACM_MPEG_ORIGINALHOME = 0x0010;
constexpr WORD ACM_MPEG_PROTECTIONBIT = 0x0008;
constexpr WORD ACM_MPEG_ID_MPEG1 = 0x0010;

constexpr DWORD BI_RGB = 0;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};

struct MPEG1WAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD fwHeadLayer;
    DWORD dwHeadBitrate;
    WORD fwHeadMode;
    WORD fwHeadModeExt;
    WORD wHeadEmphasis;
    WORD fwHeadFlags;
    DWORD dwPTSLow;
    DWORD dwPTSHigh;
};
#pragma pack(pop)

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

struct MPEG1VIDEOINFO {
    VIDEOINFOHEADER hdr;
    DWORD dwStartTimeCode;
    DWORD cbSequenceHeader;
    BYTE bSequenceHeader[1];
};

// Bytes of an MPEG1VIDEOINFO block up to and including its sequence header.
#define SIZE_MPEG1VIDEOINFO(pv) \
    (FIELD_OFFSET(MPEG1VIDEOINFO, bSequenceHeader) + (pv)->cbSequenceHeader)
#define MPEG1_SEQUENCE_INFO(pv) ((const BYTE*)(pv)->bSequenceHeader)

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nChannels) == 2);
static_assert(offsetof(WAVEFORMATEX, nSamplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8);
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12);
static_assert(offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(offsetof(WAVEFORMATEX, cbSize) == 16);

static_assert(sizeof(MPEG1WAVEFORMAT) == 40);
static_assert(offsetof(MPEG1WAVEFORMAT, fwHeadLayer) == 18);
static_assert(offsetof(MPEG1WAVEFORMAT, dwHeadBitrate) == 20);
static_assert(offsetof(MPEG1WAVEFORMAT, fwHeadMode) == 24);
static_assert(offsetof(MPEG1WAVEFORMAT, fwHeadModeExt) == 26);
static_assert(offsetof(MPEG1WAVEFORMAT, wHeadEmphasis) == 28);
static_assert(offsetof(MPEG1WAVEFORMAT, fwHeadFlags) == 30);
static_assert(offsetof(MPEG1WAVEFORMAT, dwPTSLow) == 32);
static_assert(offsetof(MPEG1WAVEFORMAT, dwPTSHigh) == 36);

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(BITMAPINFOHEADER, biPlanes) == 12);
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biCompression) == 16);
static_assert(offsetof(BITMAPINFOHEADER, biXPelsPerMeter) == 24);
static_assert(offsetof(BITMAPINFOHEADER, biClrImportant) == 36);

static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(offsetof(VIDEOINFOHEADER, rcTarget) == 16);
static_assert(offsetof(VIDEOINFOHEADER, dwBitRate) == 32);
static_assert(offsetof(VIDEOINFOHEADER, dwBitErrorRate) == 36);
static_assert(offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);

static_assert(offsetof(MPEG1VIDEOINFO, dwStartTimeCode) == 88);
static_assert(offsetof(MPEG1VIDEOINFO, cbSequenceHeader) == 92);
static_assert(offsetof(MPEG1VIDEOINFO, bSequenceHeader) == 96);
static_assert(offsetof(MPEG1VIDEOINFO, hdr.bmiHeader.biWidth) == 52);
static_assert(offsetof(MPEG1VIDEOINFO, hdr.bmiHeader.biHeight) == 56);
static_assert(offsetof(MPEG1VIDEOINFO, hdr.bmiHeader.biCompression) == 64);
static_assert(offsetof(MPEG1VIDEOINFO, hdr.bmiHeader.biYPelsPerMeter) == 76);
#endif  // _WIN32
