#include "media_file.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cerrno>
#include <cstring>
#include <mutex>

namespace avs::dshow::media {
namespace {

constexpr AVRational kHundredNs{1, 10'000'000};

// FFmpeg's own diagnostics would land on the console of the program using the graph.
void QuietLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

DWORD CompressionCode(const AVCodecParameters* par) {
    if (par->codec_tag != 0) return par->codec_tag;
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_tag(tables, par->codec_id);
}

WORD BitCount(const AVCodecParameters* par) {
    if (par->bits_per_coded_sample > 0) return static_cast<WORD>(par->bits_per_coded_sample);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(par->format));
    if (d != nullptr) return static_cast<WORD>(av_get_bits_per_pixel(d));
    return 24;
}

GUID FourccSubtype(DWORD code) {
    GUID g = WaveFormatSubtype(0);
    g.Data1 = code;
    return g;
}

}  // namespace

HRESULT OpenMediaFile(const std::string& path, FormatPtr& out) {
    QuietLog();
    AVFormatContext* raw = nullptr;
    const int open = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (open < 0) return open == AVERROR(ENOENT) ? HRESULT_FILE_NOT_FOUND : VFW_E_UNKNOWN_FILE_TYPE;
    FormatPtr fmt(raw);
    if (avformat_find_stream_info(fmt.get(), nullptr) < 0) return VFW_E_UNKNOWN_FILE_TYPE;
    bool any = false;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) any = any || IsMediaStream(fmt->streams[i]);
    if (!any) return VFW_E_UNKNOWN_FILE_TYPE;
    out = std::move(fmt);
    return S_OK;
}

bool IsAudio(const AVStream* st) {
    return st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
}

bool IsMediaStream(const AVStream* st) {
    if (IsAudio(st)) return true;
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
           !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

std::int64_t OriginOf(const AVFormatContext* fmt) {
    if (fmt->start_time == AV_NOPTS_VALUE) return 0;
    return av_rescale_q(fmt->start_time, AV_TIME_BASE_Q, kHundredNs);
}

std::int64_t ReferenceTime(std::int64_t pts, AVRational time_base, std::int64_t origin) {
    return av_rescale_q(pts, time_base, kHundredNs) - origin;
}

double StreamSeconds(const AVStream* st, const AVFormatContext* fmt) {
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return static_cast<double>(st->duration) * av_q2d(st->time_base);
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        return static_cast<double>(fmt->duration) / AV_TIME_BASE;
    return 0;
}

double FrameRate(const AVStream* st) {
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
}

void MakeVideoType(const AVStream* st, CMediaType* mt) {
    const AVCodecParameters* par = st->codecpar;
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Video);
    const DWORD code = CompressionCode(par);
    const GUID sub = FourccSubtype(code);
    mt->SetSubtype(&sub);
    mt->SetFormatType(&FORMAT_VideoInfo);
    mt->SetTemporalCompression(TRUE);
    mt->SetVariableSize();
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (vih == nullptr) return;
    std::memset(vih, 0, sizeof(*vih));
    const double fps = FrameRate(st);
    vih->AvgTimePerFrame = fps > 0 ? static_cast<REFERENCE_TIME>(10'000'000 / fps) : 0;
    vih->dwBitRate = static_cast<DWORD>(par->bit_rate > 0 ? par->bit_rate : 0);
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = par->width;
    vih->bmiHeader.biHeight = par->height;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = BitCount(par);
    vih->bmiHeader.biCompression = code;
}

namespace {
void FillWave(WORD tag, unsigned channels, unsigned rate, WORD bits, CMediaType* mt) {
    auto* wfx = reinterpret_cast<WAVEFORMATEX*>(mt->AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    if (wfx == nullptr) return;
    std::memset(wfx, 0, sizeof(*wfx));
    wfx->wFormatTag = tag;
    wfx->nChannels = static_cast<WORD>(channels);
    wfx->nSamplesPerSec = rate;
    wfx->wBitsPerSample = bits;
    wfx->nBlockAlign = static_cast<WORD>(channels * bits / 8);
    wfx->nAvgBytesPerSec = rate * wfx->nBlockAlign;
}
}  // namespace

void MakePcmType(unsigned channels, unsigned rate, CMediaType* mt) {
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Audio);
    mt->SetSubtype(&MEDIASUBTYPE_PCM);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    mt->SetSampleSize(channels * 2);
    FillWave(WAVE_FORMAT_PCM, channels, rate, 16, mt);
}

void MakeStoredAudioType(const AVStream* st, CMediaType* mt) {
    const AVCodecParameters* par = st->codecpar;
    const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    unsigned tag = av_codec_get_tag(tables, par->codec_id);
    if (tag == 0 || tag > 0xffff) tag = WAVE_FORMAT_PCM;
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Audio);
    const GUID sub = WaveFormatSubtype(static_cast<WORD>(tag));
    mt->SetSubtype(&sub);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    const WORD bits =
        static_cast<WORD>(par->bits_per_coded_sample > 0 ? par->bits_per_coded_sample : 16);
    FillWave(static_cast<WORD>(tag), static_cast<unsigned>(par->ch_layout.nb_channels),
             static_cast<unsigned>(par->sample_rate), bits, mt);
}

}  // namespace avs::dshow::media
