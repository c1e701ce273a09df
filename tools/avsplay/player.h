// avsplay's graph work: build the graph for an input, attach a capture
// renderer to every stream of its source, seek, run to completion, report.
//
// The run works on any source filter already in a graph (PlaySource); a file
// gets there through RenderFile into renderers already in the graph
// (OpenFileSource). Another kind of input (an
// rtsp:// address) only needs its own "open" step that puts its source filter
// into the graph and hands it to PlaySource.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "dshow/streams.h"
#include "tools/avsplay/options.h"

namespace avsplay {

// One stream of the source and the capture renderer that takes it.
struct Stream;

// Renders `path` as a player would (file reader, then the registered parsers
// by merit) into capture renderers added beforehand, and returns the parser
// and its streams in pin order. On failure returns the HRESULT and a one-line
// message.
HRESULT OpenFileSource(IGraphBuilder* graph, const std::string& path, IBaseFilter** source,
                       std::vector<Stream>& streams, std::string& error);

// Connects a capture renderer to each unconnected output pin of `source`
// (adding to `streams`, which may hold streams already captured), seeks, runs the graph as fast as
// the streams deliver until every stream ended, stops it, and prints one summary line per stream to
// `out`. Progress goes to `progress` (null: none). Returns the exit code: 0 when every stream
// reached its end and every output was written, else 1 with a line on stderr.
int PlaySource(IGraphBuilder* graph, IBaseFilter* source, std::vector<Stream>& streams,
               const Options& options, FILE* out, FILE* progress);

// The whole program after the command line was read.
int Run(const Options& options, FILE* out, FILE* progress);

}  // namespace avsplay
