// The BladeEnc-style interface of the lame_enc module: the configuration record, the version
// record and the seven exports. The record layouts are the ones LAME's Windows DLL publishes,
// byte for byte, so a caller built against that interface fills them the same way here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace blade {

// The Windows integer types of the interface, with their 32-bit Windows widths.
using BE_DWORD = std::uint32_t;
using BE_WORD = std::uint16_t;
using BE_BYTE = std::uint8_t;
using BE_LONG = std::int32_t;
using BE_BOOL = std::int32_t;
using BE_INT = std::int32_t;

}  // namespace blade

extern "C" {

// A stream handle. The interface declares it "unsigned long"; on this platform that is wide
// enough for any value the module hands out.
typedef unsigned long HBE_STREAM;
typedef HBE_STREAM* PHBE_STREAM;
typedef unsigned long BE_ERR;

enum : unsigned long {
    BE_ERR_SUCCESSFUL = 0x00000000,
    BE_ERR_INVALID_FORMAT = 0x00000001,
    BE_ERR_INVALID_FORMAT_PARAMETERS = 0x00000002,
    BE_ERR_NO_MORE_HANDLES = 0x00000003,
    BE_ERR_INVALID_HANDLE = 0x00000004,
    BE_ERR_BUFFER_TOO_SMALL = 0x00000005,
};

enum : unsigned long {
    BE_CONFIG_MP3 = 0,
    BE_CONFIG_LAME = 256,
};

enum : int {
    BE_MP3_MODE_STEREO = 0,
    BE_MP3_MODE_JSTEREO = 1,
    BE_MP3_MODE_DUALCHANNEL = 2,
    BE_MP3_MODE_MONO = 3,
};

enum : int {
    MPEG1 = 1,
    MPEG2 = 0,
};

// Quality presets of the LAME configuration (nPreset).
typedef enum {
    LQP_NOPRESET = -1,
    LQP_NORMAL_QUALITY = 0,
    LQP_LOW_QUALITY = 1,
    LQP_HIGH_QUALITY = 2,
    LQP_VOICE_QUALITY = 3,
    LQP_R3MIX = 4,
    LQP_VERYHIGH_QUALITY = 5,
    LQP_STANDARD = 6,
    LQP_FAST_STANDARD = 7,
    LQP_EXTREME = 8,
    LQP_FAST_EXTREME = 9,
    LQP_INSANE = 10,
    LQP_ABR = 11,
    LQP_CBR = 12,
    LQP_MEDIUM = 13,
    LQP_FAST_MEDIUM = 14,
    LQP_PHONE = 1000,
    LQP_SW = 2000,
    LQP_AM = 3000,
    LQP_FM = 4000,
    LQP_VOICE = 5000,
    LQP_RADIO = 6000,
    LQP_TAPE = 7000,
    LQP_HIFI = 8000,
    LQP_CD = 9000,
    LQP_STUDIO = 10000,
} LAME_QUALITY_PRESET;

typedef enum {
    VBR_METHOD_NONE = -1,
    VBR_METHOD_DEFAULT = 0,
    VBR_METHOD_OLD = 1,
    VBR_METHOD_NEW = 2,
    VBR_METHOD_MTRH = 3,
    VBR_METHOD_ABR = 4,
} VBRMETHOD;

#define BE_MAX_HOMEPAGE 128

#pragma pack(push, 1)

typedef struct {
    blade::BE_DWORD dwConfig;  // BE_CONFIG_MP3 or BE_CONFIG_LAME
    union {
        struct {
            blade::BE_DWORD dwSampleRate;
            blade::BE_BYTE byMode;
            blade::BE_WORD wBitrate;
            blade::BE_BOOL bPrivate;
            blade::BE_BOOL bCRC;
            blade::BE_BOOL bCopyright;
            blade::BE_BOOL bOriginal;
        } mp3;

        struct {
            blade::BE_DWORD dwStructVersion;
            blade::BE_DWORD dwStructSize;

            blade::BE_DWORD dwSampleRate;    // rate of the PCM handed in
            blade::BE_DWORD dwReSampleRate;  // rate of the MP3; 0 lets the encoder decide
            blade::BE_LONG nMode;            // BE_MP3_MODE_*
            blade::BE_DWORD dwBitrate;       // CBR bit rate, or VBR minimum (kbit/s)
            blade::BE_DWORD dwMaxBitrate;    // VBR maximum (kbit/s)
            blade::BE_LONG nPreset;          // LAME_QUALITY_PRESET
            blade::BE_DWORD dwMpegVersion;
            blade::BE_DWORD dwPsyModel;
            blade::BE_DWORD dwEmphasis;

            blade::BE_BOOL bPrivate;
            blade::BE_BOOL bCRC;
            blade::BE_BOOL bCopyright;
            blade::BE_BOOL bOriginal;

            blade::BE_BOOL bWriteVBRHeader;
            blade::BE_BOOL bEnableVBR;
            blade::BE_INT nVBRQuality;     // 0 (best) .. 9
            blade::BE_DWORD dwVbrAbr_bps;  // ABR target when nVbrMethod is VBR_METHOD_ABR
            blade::BE_INT nVbrMethod;      // VBRMETHOD
            blade::BE_BOOL bNoRes;         // no bit reservoir

            blade::BE_BOOL bStrictIso;
            blade::BE_WORD nQuality;  // low byte = quality, high byte = its complement, else unused

            blade::BE_BYTE btReserved[255 - 4 * sizeof(blade::BE_DWORD) - sizeof(blade::BE_WORD)];
        } LHV1;

        struct {
            blade::BE_DWORD dwSampleRate;
            blade::BE_BYTE byMode;
            blade::BE_WORD wBitrate;
            blade::BE_BYTE byEncodingMethod;
        } aac;
    } format;
} BE_CONFIG, *PBE_CONFIG;

typedef struct {
    blade::BE_BYTE byDLLMajorVersion;
    blade::BE_BYTE byDLLMinorVersion;
    blade::BE_BYTE byMajorVersion;
    blade::BE_BYTE byMinorVersion;
    blade::BE_BYTE byDay;
    blade::BE_BYTE byMonth;
    blade::BE_WORD wYear;
    char zHomepage[BE_MAX_HOMEPAGE + 1];
    blade::BE_BYTE byAlphaLevel;
    blade::BE_BYTE byBetaLevel;
    blade::BE_BYTE byMMXEnabled;
    blade::BE_BYTE btReserved[125];
} BE_VERSION, *PBE_VERSION;

#pragma pack(pop)

// Callers store these sizes and offsets in their own records; they must never move.
static_assert(sizeof(BE_CONFIG) == 331, "BE_CONFIG is 331 bytes");
static_assert(offsetof(BE_CONFIG, format.LHV1.dwStructVersion) == 4);
static_assert(offsetof(BE_CONFIG, format.LHV1.dwSampleRate) == 12);
static_assert(offsetof(BE_CONFIG, format.LHV1.dwReSampleRate) == 16);
static_assert(offsetof(BE_CONFIG, format.LHV1.nMode) == 20);
static_assert(offsetof(BE_CONFIG, format.LHV1.dwBitrate) == 24);
static_assert(offsetof(BE_CONFIG, format.LHV1.dwMaxBitrate) == 28);
static_assert(offsetof(BE_CONFIG, format.LHV1.nPreset) == 32);
static_assert(offsetof(BE_CONFIG, format.LHV1.bOriginal) == 60);
static_assert(offsetof(BE_CONFIG, format.LHV1.bWriteVBRHeader) == 64);
static_assert(offsetof(BE_CONFIG, format.LHV1.bEnableVBR) == 68);
static_assert(offsetof(BE_CONFIG, format.LHV1.nVBRQuality) == 72);
static_assert(offsetof(BE_CONFIG, format.LHV1.nVbrMethod) == 80);
static_assert(offsetof(BE_CONFIG, format.LHV1.nQuality) == 92);
static_assert(offsetof(BE_CONFIG, format.LHV1.btReserved) == 94);
static_assert(sizeof(BE_VERSION) == 265, "BE_VERSION is 265 bytes");

// The exports, by the names a caller looks up.
BE_ERR beInitStream(PBE_CONFIG pbeConfig, blade::BE_DWORD* dwSamples, blade::BE_DWORD* dwBufferSize,
                    PHBE_STREAM phbeStream);
BE_ERR beEncodeChunk(HBE_STREAM hbeStream, blade::BE_DWORD nSamples, short* pSamples,
                     unsigned char* pOutput, blade::BE_DWORD* pdwOutput);
BE_ERR beDeinitStream(HBE_STREAM hbeStream, unsigned char* pOutput, blade::BE_DWORD* pdwOutput);
BE_ERR beCloseStream(HBE_STREAM hbeStream);
void beVersion(PBE_VERSION pbeVersion);
BE_ERR beWriteVBRHeader(const char* lpszFileName);
BE_ERR beWriteInfoTag(HBE_STREAM hbeStream, const char* lpszFileName);

// Pointer types for callers that look the exports up at run time.
typedef BE_ERR (*BEINITSTREAM)(PBE_CONFIG, blade::BE_DWORD*, blade::BE_DWORD*, PHBE_STREAM);
typedef BE_ERR (*BEENCODECHUNK)(HBE_STREAM, blade::BE_DWORD, short*, unsigned char*,
                                blade::BE_DWORD*);
typedef BE_ERR (*BEDEINITSTREAM)(HBE_STREAM, unsigned char*, blade::BE_DWORD*);
typedef BE_ERR (*BECLOSESTREAM)(HBE_STREAM);
typedef void (*BEVERSION)(PBE_VERSION);
typedef BE_ERR (*BEWRITEVBRHEADER)(const char*);
typedef BE_ERR (*BEWRITEINFOTAG)(HBE_STREAM, const char*);

}  // extern "C"
