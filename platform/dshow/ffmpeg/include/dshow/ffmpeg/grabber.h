// The grabber is not FFmpeg's; it lives in dshow/grabber.h, which builds on Windows too.
#pragma once

#include "dshow/grabber.h"
