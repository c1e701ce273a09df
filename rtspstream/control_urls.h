#pragma once

#include <string>

#include "rtsp/sdp.h"

namespace rtspstream {

// Makes the session and media control addresses absolute against base (the
// DESCRIBE reply's Content-Base, else the request address). Values already
// beginning with "rtsp://" stay; "*" becomes base itself.
void ResolveControlUrls(rtsp::SessionDescription& description, const std::string& base);

// One control value resolved against base.
std::string ResolveControlUrl(const std::string& value, const std::string& base);

}  // namespace rtspstream
