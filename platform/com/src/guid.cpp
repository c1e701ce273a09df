#include "com/guid.h"

#include <cstdio>

namespace avs::com {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at `pos`; false on any non-hex character.
bool ReadHex(std::string_view text, size_t pos, int digits, std::uint32_t* out) {
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int h = HexValue(text[pos + i]);
        if (h < 0) return false;
        v = (v << 4) | static_cast<std::uint32_t>(h);
    }
    *out = v;
    return true;
}

}  // namespace

std::string GuidToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::wstring GuidToWString(const GUID& g) {
    std::string s = GuidToString(g);
    return std::wstring(s.begin(), s.end());
}

std::optional<GUID> ParseGuid(std::string_view t) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (t.size() != 38 || t[0] != '{' || t[37] != '}' || t[9] != '-' || t[14] != '-' ||
        t[19] != '-' || t[24] != '-')
        return std::nullopt;
    GUID g{};
    std::uint32_t v;
    if (!ReadHex(t, 1, 8, &v)) return std::nullopt;
    g.Data1 = v;
    if (!ReadHex(t, 10, 4, &v)) return std::nullopt;
    g.Data2 = static_cast<std::uint16_t>(v);
    if (!ReadHex(t, 15, 4, &v)) return std::nullopt;
    g.Data3 = static_cast<std::uint16_t>(v);
    static constexpr size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(t, kBytePos[i], 2, &v)) return std::nullopt;
        g.Data4[i] = static_cast<std::uint8_t>(v);
    }
    return g;
}

std::optional<GUID> ParseGuid(std::wstring_view t) {
    std::string narrow;
    narrow.reserve(t.size());
    for (wchar_t c : t) {
        if (c < 0 || c > 0x7F) return std::nullopt;
        narrow.push_back(static_cast<char>(c));
    }
    return ParseGuid(std::string_view(narrow));
}

}  // namespace avs::com

int StringFromGUID2(REFGUID guid, LPOLESTR out, int cchMax) {
    std::wstring s = avs::com::GuidToWString(guid);
    if (out == nullptr || cchMax < static_cast<int>(s.size()) + 1) return 0;
    std::wmemcpy(out, s.c_str(), s.size() + 1);
    return static_cast<int>(s.size()) + 1;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID out) {
    if (text == nullptr || out == nullptr) return E_INVALIDARG;
    auto g = avs::com::ParseGuid(std::wstring_view(text));
    if (!g) return hr_of(0x800401F3u);  // CO_E_CLASSSTRING
    *out = *g;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, LPGUID out) {
    HRESULT hr = CLSIDFromString(text, out);
    return FAILED(hr) ? E_INVALIDARG : hr;
}
