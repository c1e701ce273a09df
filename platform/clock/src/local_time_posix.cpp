#include <locale.h>

#include "clock/local_time.h"

namespace avs::clock {
namespace {

// Formats with the time conventions of the environment's locale (LC_TIME), without touching
// the process-wide locale that printf's number formatting depends on.
std::string Format(const char* format, const std::tm& when) {
    char text[64] = {0};
    locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0))
        loc = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    const size_t n = strftime_l(text, sizeof text, format, &when, loc);
    if (loc != static_cast<locale_t>(0)) freelocale(loc);
    return std::string(text, n);
}

}  // namespace

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::string ShortDateText(const std::tm& when) {
    return Format("%x", when);
}

std::string Time24Text(const std::tm& when) {
    return Format("%H:%M:%S", when);
}

}  // namespace avs::clock
