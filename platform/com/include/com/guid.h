// GUID and its registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "com/hresult.h"
#include "com/types.h"

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPGUID = GUID*;
using LPCLSID = CLSID*;

inline constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline constexpr bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}
inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}
// Strict weak order so GUIDs can key ordered containers.
inline bool operator<(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
}

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID CLSID_NULL = GUID_NULL;

namespace avs::com {

// Upper-case registry form with braces.
std::string GuidToString(const GUID& guid);
std::wstring GuidToWString(const GUID& guid);
// Accepts the registry form with braces, either case; nothing else.
std::optional<GUID> ParseGuid(std::string_view text);
std::optional<GUID> ParseGuid(std::wstring_view text);

}  // namespace avs::com

// The OLE conversions: StringFromGUID2 returns the characters written including the
// terminator, or 0 when cchMax is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR out, int cchMax);
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID out);
HRESULT IIDFromString(LPCOLESTR text, LPGUID out);
