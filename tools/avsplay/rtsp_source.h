// avsplay's "open" step for rtsp:// addresses: the stream source filter,
// created by class identifier and given the address, as a player does.
#pragma once

#include <string>

#include "dshow/streams.h"

namespace avsplay {

// rtsp://... or rtsp2://...
bool IsRtspAddress(const std::string& input);

// Creates the registered stream source, adds it to the graph and loads the
// address. On failure returns the HRESULT and a one-line message.
HRESULT OpenRtspSource(IGraphBuilder* graph, const std::string& address, IBaseFilter** source,
                       std::string& error);

}  // namespace avsplay
