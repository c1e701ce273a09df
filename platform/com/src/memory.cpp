#include "com/memory.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

LPVOID CoTaskMemAlloc(SIZE_T cb) {
    return std::malloc(cb == 0 ? 1 : cb);
}
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    return std::realloc(pv, cb == 0 ? 1 : cb);
}
void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

namespace {
// The byte count sits in the four bytes before the text; allocate with room for it
// and keep the text aligned for OLECHAR.
constexpr size_t kPrefix = sizeof(OLECHAR) > 4 ? sizeof(OLECHAR) : 4;

std::uint32_t* LengthSlot(BSTR b) {
    return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(b) - 4);
}
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT cch) {
    size_t bytes = static_cast<size_t>(cch) * sizeof(OLECHAR);
    if (bytes > 0x7FFFFFF0u) return nullptr;
    char* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    BSTR b = reinterpret_cast<BSTR>(block + kPrefix);
    *LengthSlot(b) = static_cast<std::uint32_t>(bytes);
    if (text != nullptr)
        std::memcpy(b, text, bytes);
    else
        std::memset(b, 0, bytes);
    b[cch] = 0;
    return b;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void SysFreeString(BSTR b) {
    if (b != nullptr) std::free(reinterpret_cast<char*>(b) - kPrefix);
}

UINT SysStringByteLen(BSTR b) {
    return b == nullptr ? 0 : *LengthSlot(b);
}
UINT SysStringLen(BSTR b) {
    return SysStringByteLen(b) / sizeof(OLECHAR);
}

namespace avs::com {

std::wstring Widen(std::string_view s) {
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            cp = 0xFFFD;
            extra = 0;
        }
        if (extra > 0 && i + extra >= s.size()) {  // truncated sequence
            out.push_back(static_cast<wchar_t>(0xFFFD));
            break;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out.push_back(static_cast<wchar_t>(0xFFFD));
            i += 1;
            continue;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += 1 + extra;
    }
    return out;
}

std::string Narrow(std::wstring_view w) {
    std::string out;
    out.reserve(w.size());
    for (size_t i = 0; i < w.size(); ++i) {
        std::uint32_t cp = static_cast<std::uint32_t>(w[i]);
        // A 16-bit wchar_t (Windows) carries code points above 0xFFFF as a
        // surrogate pair; a lone surrogate, like a value past 0x10FFFF, is no
        // character and becomes the replacement character.
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < w.size()) {
            const auto low = static_cast<std::uint32_t>(w[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) cp = 0xFFFD;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

LPWSTR CoTaskStrDup(LPCWSTR text) {
    if (text == nullptr) return nullptr;
    size_t n = std::wcslen(text) + 1;
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc(n * sizeof(WCHAR)));
    if (p != nullptr) std::wmemcpy(p, text, n);
    return p;
}

}  // namespace avs::com

int WideCharToMultiByte(UINT, DWORD, LPCWSTR wide, int cchWideChar, LPSTR out, int cbMultiByte,
                        LPCSTR, BOOL* usedDefaultChar) {
    if (wide == nullptr || cchWideChar < -1 || cbMultiByte < 0) return 0;
    if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
    size_t n = cchWideChar == -1 ? std::wcslen(wide) + 1 : static_cast<size_t>(cchWideChar);
    std::string text = avs::com::Narrow(std::wstring_view(wide, n));
    if (cbMultiByte == 0) return static_cast<int>(text.size());
    if (out == nullptr || text.size() > static_cast<size_t>(cbMultiByte)) return 0;
    std::memcpy(out, text.data(), text.size());
    return static_cast<int>(text.size());
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR text, int cbMultiByte, LPWSTR out, int cchWideChar) {
    if (text == nullptr || cbMultiByte < -1 || cchWideChar < 0) return 0;
    size_t n = cbMultiByte == -1 ? std::strlen(text) + 1 : static_cast<size_t>(cbMultiByte);
    std::wstring wide = avs::com::Widen(std::string_view(text, n));
    if (cchWideChar == 0) return static_cast<int>(wide.size());
    if (out == nullptr || wide.size() > static_cast<size_t>(cchWideChar)) return 0;
    std::wmemcpy(out, wide.data(), wide.size());
    return static_cast<int>(wide.size());
}
