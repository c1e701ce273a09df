// The project's text helpers over Windows' own conversions (wide strings are UTF-16).
#include <cwchar>

#include "com/memory.h"

namespace avs::com {

std::wstring Widen(std::string_view s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string Narrow(std::wstring_view w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                        nullptr);
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
