// Compiled into every program that links avs_dshow_ffmpeg (an interface source), so that
// CoCreateInstance finds MediaDet and the grabber and AddSourceFilter opens files with
// FFmpeg, without registry entries.
#include "dshow/ffmpeg/ffmpeg_source.h"
#include "dshow/ffmpeg/media_det.h"
#include "dshow/grabber.h"
#include "dshow/runtime.h"

namespace {

const bool kFfmpegClassesRegistered = [] {
    avs::com::RegisterBuiltinClass(CLSID_MediaDet, avs::dshow::CreateMediaDetInstance);
    avs::com::RegisterBuiltinClass(CLSID_SampleGrabberFilter,
                                   avs::dshow::CreateSampleGrabberInstance);
    avs::dshow::SetSourceFilterFactory(avs::dshow::CreateFfmpegSource);
    return true;
}();

}  // namespace
