// What Windows provides around the filters: the filter graph manager, the filter mapper
// over the registry store, the asynchronous file reader, a null renderer and a capture
// renderer that hands every sample and stream event to a callback.
//
// All are creatable by CoCreateInstance (CLSID_FilterGraph, CLSID_FilterMapper2,
// CLSID_AsyncReader, CLSID_NullRenderer) once a program links avs_dshow; the functions
// below are shortcuts, plus what has no class identifier.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dshow/streams.h"

namespace avs::dshow {

// One thing that reached a capture renderer, on the streaming thread that delivered it.
struct CaptureEvent {
    enum class Kind { kSample, kNewSegment, kEndOfStream, kBeginFlush, kEndFlush };
    Kind kind = Kind::kSample;
    // kSample: the bytes (valid only during the callback) and the sample's properties.
    const BYTE* data = nullptr;
    LONG actual_length = 0;
    bool has_time = false;  // SetTime was called
    bool has_stop = false;  // with a stop time
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool sync_point = false;
    bool discontinuity = false;
    bool preroll = false;
    // kNewSegment.
    REFERENCE_TIME segment_start = 0;
    REFERENCE_TIME segment_stop = 0;
    double rate = 1.0;
};
using CaptureCallback = std::function<void(const CaptureEvent&)>;

// A renderer that accepts every media type (or, when `accept` is set, those it approves)
// and calls `callback` for each sample, new segment, end of stream and flush. Like a
// real renderer it holds the first sample while paused, signals EC_COMPLETE when its end
// of stream arrives while running, and paces samples by their times when the graph has a
// clock (after SetSyncSource(NULL) it renders as fast as they come).
HRESULT CreateCaptureRenderer(CaptureCallback callback, IBaseFilter** out,
                              std::function<bool(const AM_MEDIA_TYPE&)> accept = {});
HRESULT CreateNullRenderer(IBaseFilter** out);
HRESULT CreateAsyncFileReader(IBaseFilter** out);
HRESULT CreateFilterGraph(IGraphBuilder** out);

// Filters registered with the mapper, highest merit first.
struct RegisteredPinType {
    GUID major = GUID_NULL;
    GUID sub = GUID_NULL;
};
struct RegisteredPin {
    std::wstring name;
    bool rendered = false;
    bool output = false;
    bool zero = false;
    bool many = false;
    std::vector<RegisteredPinType> types;
};
struct RegisteredFilter {
    CLSID clsid = GUID_NULL;
    std::wstring name;
    DWORD merit = 0;
    std::vector<RegisteredPin> pins;
};
std::vector<RegisteredFilter> EnumerateRegisteredFilters(
    const CLSID& category = CLSID_LegacyAmFilterCategory);

// What IGraphBuilder::AddSourceFilter creates for a file. Unset (the default), it is the
// asynchronous file reader loaded with the file; a media library can put its own source
// here (returning a filter with one reference, already loaded with the file).
using SourceFilterFactory = std::function<HRESULT(LPCWSTR file, IBaseFilter** out)>;
void SetSourceFilterFactory(SourceFilterFactory factory);

// Small helpers for programs and tests.
// The pins of a filter in order, optionally only one direction; each with a reference.
std::vector<avs::com::ComPtr<IPin>> FilterPins(IBaseFilter* filter);
avs::com::ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION dir,
                                bool unconnected_only = false);
PIN_DIRECTION PinDirection(IPin* pin);
// The filter that owns the pin, and the pin it is connected to (null when none).
avs::com::ComPtr<IBaseFilter> PinOwner(IPin* pin);
avs::com::ComPtr<IPin> PinPeer(IPin* pin);

}  // namespace avs::dshow
