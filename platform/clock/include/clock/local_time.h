// The local date and time, and their text in the locale's own forms (without the user's
// overrides of those forms). Each text is at most 63 bytes.
#pragma once

#include <ctime>
#include <string>

namespace avs::clock {

std::tm LocalTimeNow();

// The date in the locale's short form.
std::string ShortDateText(const std::tm& when);

// The time of day on the 24-hour clock, hours, minutes and seconds, without a time marker.
std::string Time24Text(const std::tm& when);

}  // namespace avs::clock
