// Class identifiers, names and media subtypes of the two filter modules.
#pragma once

#include "dshow/streams.h"

// {6BB6D49B-9860-405C-918F-0BBC19761123}
inline constexpr CLSID CLSID_BranwickSource = {
    0x6bb6d49b, 0x9860, 0x405c, {0x91, 0x8f, 0x0b, 0xbc, 0x19, 0x76, 0x11, 0x23}};
// {BE3997EB-2911-493A-B307-06CC09A43034}
inline constexpr CLSID CLSID_Tallowmere = {
    0xbe3997eb, 0x2911, 0x493a, {0xb3, 0x07, 0x06, 0xcc, 0x09, 0xa4, 0x30, 0x34}};

// AVS video as the file source offers it: 'AVS2' as a FOURCC subtype.
inline constexpr GUID MEDIASUBTYPE_AVS2 = {
    0x32535641, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
// AVS video as the stream source offers it.
inline constexpr GUID MEDIASUBTYPE_TallowmereVideo = {
    0x76c8d32e, 0xbdbf, 0x4498, {0x8e, 0x8f, 0xa8, 0xd3, 0x72, 0xae, 0x33, 0x6e}};
// The format block of both filters' video type (laid out as MPEG1VIDEOINFO, 122 bytes).
inline constexpr GUID FORMAT_AvsVideo = {
    0x1de03e23, 0xe89d, 0x40e6, {0xb3, 0x6d, 0x66, 0x1d, 0xad, 0x3c, 0xb5, 0x17}};

inline constexpr const WCHAR* kBranwickSourceName = L"Demmerly";
inline constexpr const WCHAR* kTallowmereName = L"Tallowmere";

// Size of that video format block: the MPEG1VIDEOINFO header, an 18-byte sequence header
// and 8 bytes of zeros.
inline constexpr ULONG kAvsVideoFormatBytes = 122;
static_assert(FIELD_OFFSET(MPEG1VIDEOINFO, bSequenceHeader) + 18 + 8 == kAvsVideoFormatBytes);
// The audio format block of both filters (an MPEG1WAVEFORMAT).
static_assert(sizeof(MPEG1WAVEFORMAT) == 40);
