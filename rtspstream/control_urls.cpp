#include "rtspstream/control_urls.h"

namespace rtspstream {

std::string ResolveControlUrl(const std::string& value, const std::string& base) {
    if (value.compare(0, 7, "rtsp://") == 0) return value;
    if (value == "*") return base;
    std::string out = base;
    if (out.empty() || out.back() != '/') out += '/';
    size_t skip = 0;
    if (skip < value.size() && value[skip] == '/') ++skip;
    if (skip < value.size() && value[skip] == '/') ++skip;
    out.append(value, skip, std::string::npos);
    return out;
}

void ResolveControlUrls(rtsp::SessionDescription& description, const std::string& base) {
    if (description.control) description.control = ResolveControlUrl(*description.control, base);
    for (rtsp::SdpMedia& media : description.media)
        if (media.control) media.control = ResolveControlUrl(*media.control, base);
}

}  // namespace rtspstream
