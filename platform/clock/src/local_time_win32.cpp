#include <windows.h>

#include "clock/local_time.h"

namespace avs::clock {
namespace {

SYSTEMTIME SystemTimeOf(const std::tm& when) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(when.tm_year + 1900);
    st.wMonth = static_cast<WORD>(when.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(when.tm_wday);
    st.wDay = static_cast<WORD>(when.tm_mday);
    st.wHour = static_cast<WORD>(when.tm_hour);
    st.wMinute = static_cast<WORD>(when.tm_min);
    st.wSecond = static_cast<WORD>(when.tm_sec);
    return st;
}

}  // namespace

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    return local;
}

std::string ShortDateText(const std::tm& when) {
    const SYSTEMTIME st = SystemTimeOf(when);
    char text[64] = {0};
    const int n = GetDateFormatA(LOCALE_USER_DEFAULT, LOCALE_NOUSEROVERRIDE | DATE_SHORTDATE, &st,
                                 nullptr, text, sizeof text);
    return n > 0 ? std::string(text, static_cast<size_t>(n - 1)) : std::string();
}

std::string Time24Text(const std::tm& when) {
    const SYSTEMTIME st = SystemTimeOf(when);
    char text[64] = {0};
    const int n = GetTimeFormatA(LOCALE_USER_DEFAULT,
                                 LOCALE_NOUSEROVERRIDE | TIME_FORCE24HOURFORMAT | TIME_NOTIMEMARKER,
                                 &st, nullptr, text, sizeof text);
    return n > 0 ? std::string(text, static_cast<size_t>(n - 1)) : std::string();
}

}  // namespace avs::clock
