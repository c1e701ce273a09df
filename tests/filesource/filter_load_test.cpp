// CBranwickSource's connection and Load: which files it takes, which it
// refuses and what it leaves behind, its interfaces, and the media types its
// streams offer.
#include <gtest/gtest.h>

#include <cstring>

#include "filesource/branwick_audio_stream.h"
#include "filesource/branwick_input_pin.h"
#include "filesource/branwick_video_stream.h"
#include "filesource/media_types.h"
#include "filter_harness.h"
#include "filtermodule/module_ids.h"

namespace filesource::test {
namespace {

using testing_mp4::Bytes;
using testing_mp4::MovieSpec;

// A short synthetic clip: 10 pictures, a sequence header every 5.
std::vector<std::vector<Bytes>> clip(int pictures = 10, int gop = 5) {
    avs::synthetic::SequenceFields f;
    return group_pictures(split_units(avs::synthetic::Stream(f, pictures, 2, 40, gop, 7)));
}

MovieSpec movie_with(std::vector<testing_mp4::TrackSpec> tracks) {
    MovieSpec m;
    m.duration = 400;  // ms
    m.tracks = std::move(tracks);
    return m;
}

HRESULT load(const Bytes& file, int* pins = nullptr) {
    TempFile f(file);
    FilterGraph g(f.path());
    const HRESULT hr = g.ReceiveInput();
    if (pins != nullptr) *pins = g.filter()->GetPinCount();
    return hr;
}

TEST(BranwickLoad, RefusesWhatIsNoAvsContainerAndLeavesNoPins) {
    // The signature must start at offset 21 at the latest: a free box of 13 or
    // 14 bytes in front of the ftyp puts its major brand at offset 21 or 22.
    auto shifted = [](size_t free_size) {
        MovieSpec m = movie_with({video_track(clip())});
        m.ftyp = testing_mp4::Box("free", Bytes(free_size - 8, 0));
        testing_mp4::Append(m.ftyp, testing_mp4::Ftyp("avs2", {"isom"}));
        return testing_mp4::BuildMovie(m);
    };
    int pins = -1;
    EXPECT_EQ(E_ABORT, load(shifted(14), &pins));
    EXPECT_EQ(1, pins);
    EXPECT_EQ(S_OK, load(shifted(13), &pins));
    EXPECT_EQ(2, pins);

    // Shorter than the 25 bytes of the signature window, even with "avs2" in it.
    EXPECT_EQ(E_ABORT, load(Bytes{0, 0, 0, 24, 'f', 't', 'y', 'p', 'a', 'v', 's', '2'}));
    // "avs2" where it belongs, but no box structure behind it.
    Bytes junk = testing_mp4::Ftyp("avs2", {"avs2", "isom"});
    junk.resize(200, 0xEE);
    EXPECT_EQ(E_ABORT, load(junk, &pins));
    EXPECT_EQ(1, pins);

    // A video track with two sample entries has no readable entry type.
    auto two = video_track(clip());
    two.entries.push_back(two.entries[0]);
    EXPECT_EQ(E_ABORT,
              load(testing_mp4::BuildMovie(movie_with({two, audio_track(2, 5, 44100)})), &pins));
    EXPECT_EQ(1, pins);
    // A video entry of another kind.
    auto other = video_track(clip());
    other.entries = {testing_mp4::VisualEntry("mp4v", {})};
    EXPECT_EQ(E_ABORT, load(testing_mp4::BuildMovie(movie_with({other})), &pins));
    // The first sample unreadable (a unit with L = 0).
    auto broken = video_track(clip());
    broken.samples[0] = Bytes{0, 0, 0, 0, 0, 0xB0};
    EXPECT_EQ(E_ABORT, load(testing_mp4::BuildMovie(movie_with({broken})), &pins));
    EXPECT_EQ(1, pins);
    // Box types are case-sensitive: an "AVS2" entry passes the name test but
    // is no entry the box reader knows, so its first sample cannot be read.
    auto upper = video_track(clip());
    upper.entries = {testing_mp4::VisualEntry("AVS2", testing_mp4::Avss({}))};
    EXPECT_EQ(E_ABORT, load(testing_mp4::BuildMovie(movie_with({upper})), &pins));
    EXPECT_EQ(1, pins);
}

TEST(BranwickLoad, InterfacesBeforeAndAfterLoadAndReconnection) {
    TempFile f(
        testing_mp4::BuildMovie(movie_with({video_track(clip()), audio_track(2, 12, 44100)})));
    FilterGraph g(f.path());
    CBranwickSource* s = g.filter();
    EXPECT_EQ(1, s->GetPinCount());
    EXPECT_EQ(ULONG{AM_FILTER_MISC_FLAGS_IS_SOURCE}, s->GetMiscFlags());
    LONGLONG total = -1, current = -1;
    EXPECT_EQ(E_UNEXPECTED, s->QueryProgress(&total, &current));
    BSTR title = nullptr;
    EXPECT_EQ(E_POINTER, s->get_Title(nullptr));
    EXPECT_EQ(E_UNEXPECTED, s->get_Title(&title));
    EXPECT_EQ(S_FALSE, s->GetSamplePosition(&current, &total));
    EXPECT_EQ(E_NOTIMPL, s->AbortOperation());

    ASSERT_EQ(S_OK, g.ConnectInput());
    ASSERT_EQ(3, s->GetPinCount());
    EXPECT_EQ(std::wstring(L"Input"), s->GetPin(0)->Name());
    EXPECT_EQ(std::wstring(L"Video"), s->GetPin(1)->Name());
    EXPECT_EQ(std::wstring(L"Audio"), s->GetPin(2)->Name());
    EXPECT_EQ(nullptr, s->GetPin(3));
    EXPECT_EQ(nullptr, s->GetPin(-1));
    ASSERT_EQ(S_OK, s->QueryProgress(&total, &current));
    EXPECT_GT(total, 0);
    EXPECT_EQ(total, current);
    ASSERT_EQ(S_OK, s->get_Title(&title));
    EXPECT_EQ(std::wstring(kBranwickTitle), title);
    SysFreeString(title);
    EXPECT_EQ(E_NOTIMPL, s->get_AuthorName(&title));
    UINT n = 0;
    EXPECT_EQ(E_NOTIMPL, s->GetTypeInfoCount(&n));
    // Every sample counts, the video's.
    ASSERT_EQ(S_OK, s->GetSamplePosition(&current, nullptr));
    EXPECT_EQ(1, current);
    ASSERT_EQ(S_OK, s->GetSamplePosition(nullptr, &total));
    EXPECT_EQ(10, total);

    // The interfaces through COM, IMediaSeeking only on the output pins.
    avs::com::ComPtr<IUnknown> unk;
    EXPECT_EQ(S_OK, s->QueryInterface(IID_ISamplePosition, unk.PutVoid()));
    EXPECT_EQ(S_OK, s->QueryInterface(IID_IAMMediaContent, unk.PutVoid()));
    EXPECT_EQ(E_NOINTERFACE, s->QueryInterface(IID_IMediaSeeking, unk.PutVoid()));
    EXPECT_EQ(S_OK, s->GetPin(1)->QueryInterface(IID_IMediaSeeking, unk.PutVoid()));
    unk.Reset();

    // Input pin rules.
    EXPECT_EQ(E_UNEXPECTED, s->input_pin()->BeginFlush());
    EXPECT_EQ(E_NOTIMPL, s->input_pin()->QueryInternalConnections(nullptr, nullptr));
    // A pin without IAsyncReader is refused before anything is read.
    EXPECT_EQ(E_NOINTERFACE, s->input_pin()->CheckConnect(s->GetPin(1)));
    // Once the output pins exist, a new connection cannot load again.
    ASSERT_EQ(S_OK, g.graph()->Disconnect(s->input_pin()));
    ASSERT_EQ(S_OK, g.graph()->Disconnect(g.reader_pin()));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, g.ReceiveInput());
    EXPECT_EQ(3, s->GetPinCount());
}

TEST(BranwickLoad, AudioOnlyContainerOffersItsPinTwice) {
    TempFile f(testing_mp4::BuildMovie(movie_with({audio_track(1, 9, 22050)})));
    FilterGraph g(f.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    CBranwickSource* s = g.filter();
    ASSERT_EQ(2, s->GetPinCount());
    ASSERT_NE(nullptr, s->GetPin(1));
    EXPECT_EQ(s->GetPin(1), s->GetPin(2));
    EXPECT_EQ(std::wstring(L"Audio"), s->GetPin(1)->Name());
    LONGLONG current = 0, total = 0;
    ASSERT_EQ(S_OK, s->GetSamplePosition(&current, &total));
    EXPECT_EQ(1, current);
    EXPECT_EQ(9, total);  // every sample, not the count minus one

    // A container with neither kind of track loads and has no output pin.
    TempFile empty(testing_mp4::BuildMovie(movie_with({})));
    FilterGraph e(empty.path());
    EXPECT_EQ(S_OK, e.ReceiveInput());
    EXPECT_EQ(1, e.filter()->GetPinCount());
    EXPECT_EQ(nullptr, e.filter()->GetPin(1));
}

TEST(BranwickLoad, MediaTypesFollowTheSequenceHeaderAndTheTimeScale) {
    avs::synthetic::SequenceFields fields;
    fields.horizontal_size = 720;
    fields.vertical_size = 576;
    fields.aspect_ratio_information = 3;
    fields.frame_rate_code = 5;  // 30 fps
    fields.bit_rate_lower = 12345;
    auto pics = group_pictures(split_units(avs::synthetic::Stream(fields, 4, 1, 20, 0, 3)));
    TempFile f(testing_mp4::BuildMovie(movie_with({video_track(pics), audio_track(2, 4, 48000)})));
    FilterGraph g(f.path());
    ASSERT_EQ(S_OK, g.ConnectInput());
    CBasePin* video = g.filter()->GetPin(1);
    CBasePin* audio = g.filter()->GetPin(2);

    CMediaType vt;
    ASSERT_EQ(S_OK, video->GetMediaType(0, &vt));
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, video->GetMediaType(1, &vt));
    EXPECT_EQ(E_INVALIDARG, video->GetMediaType(-1, &vt));
    ASSERT_EQ(S_OK, video->GetMediaType(0, &vt));
    EXPECT_EQ(MEDIATYPE_Video, vt.majortype);
    EXPECT_EQ(MEDIASUBTYPE_AVS2, vt.subtype);
    EXPECT_EQ(FORMAT_AvsVideo, vt.formattype);
    ASSERT_EQ(122u, vt.cbFormat);
    const BYTE* b = vt.pbFormat;
    auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, b + at, 4);
        return v;
    };
    EXPECT_EQ(720u, u32(8));
    EXPECT_EQ(576u, u32(12));
    EXPECT_EQ(12345u, u32(32));  // as coded, 400 bit/s units
    int64_t avg;
    std::memcpy(&avg, b + 40, 8);
    EXPECT_EQ(333333, avg);
    EXPECT_EQ(40u, u32(48));
    EXPECT_EQ(720u, u32(52));
    EXPECT_EQ(576u, u32(56));
    EXPECT_EQ(0x32535641u, u32(64));
    EXPECT_EQ(2000u, u32(72));
    EXPECT_EQ(static_cast<uint32_t>(MulDiv(2000, 276810, 10000)), u32(76));
    EXPECT_EQ(18u, u32(92));
    EXPECT_EQ(0, std::memcmp(b + 96, pics[0][0].data(), 18));  // 00 00 01 B0 ...
    for (size_t i = 114; i < 122; ++i) EXPECT_EQ(0, b[i]);
    EXPECT_EQ(S_OK, video->CheckMediaType(&vt));
    CMediaType wrong(vt);
    wrong.SetFormatType(&FORMAT_VideoInfo);
    EXPECT_EQ(E_INVALIDARG, video->CheckMediaType(&wrong));

    CMediaType at;
    ASSERT_EQ(S_OK, audio->GetMediaType(0, &at));
    EXPECT_EQ(MEDIATYPE_Audio, at.majortype);
    EXPECT_EQ(wave_format_subtype(0x55), at.subtype);
    ASSERT_EQ(40u, at.cbFormat);
    const auto* wf = reinterpret_cast<const MPEG1WAVEFORMAT*>(at.pbFormat);
    EXPECT_EQ(0x55, wf->wfx.wFormatTag);
    EXPECT_EQ(2, wf->wfx.nChannels);
    EXPECT_EQ(48000u, wf->wfx.nSamplesPerSec);
    EXPECT_EQ(48000u, wf->wfx.nAvgBytesPerSec);
    EXPECT_EQ(22, wf->wfx.cbSize);
    EXPECT_EQ(384000u, wf->dwHeadBitrate);
    EXPECT_EQ(0x18, wf->fwHeadFlags);
    EXPECT_EQ(S_OK, audio->CheckMediaType(&at));
    CMediaType mpeg(at);
    const GUID mpeg_payload = wave_format_subtype(0x50);
    mpeg.SetSubtype(&mpeg_payload);
    EXPECT_EQ(E_INVALIDARG, audio->CheckMediaType(&mpeg));
}

}  // namespace
}  // namespace filesource::test
