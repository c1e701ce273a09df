// CBranwickSource: the parser filter that plays the AVS media container. It
// sits behind a reader offering IAsyncReader, checks the signature, opens the
// box tree, and offers one output stream per track (video, audio).
#pragma once

#include <atomic>
#include <memory>

#include "dshow/streams.h"
#include "filesource/avs_container.h"
#include "filesource/sample_position.h"

namespace filesource {

class CBranwickInputPin;
class CBranwickVideoStream;
class CBranwickAudioStream;

// The title get_Title reports.
inline constexpr const WCHAR* kBranwickTitle = L"Branwick Source Filter";

class CBranwickSource : public CSource,
                        public IAMFilterMiscFlags,
                        public IAMOpenProgress,
                        public CTitleOnlyMediaContent,
                        public ISamplePosition {
  public:
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* phr);
    CBranwickSource(LPUNKNOWN outer, HRESULT* phr);
    ~CBranwickSource() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // The input pin first, then the video and the audio stream's pins.
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    // Stops the workers, then rewinds both streams to their first sample.
    STDMETHODIMP Stop() override;

    // Checks and opens the container behind the input pin's reader and creates
    // the output streams. S_OK, VFW_E_ALREADY_CONNECTED or E_ABORT.
    HRESULT Load();

    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override;
    // IAMOpenProgress: the file is complete once loaded (total = current = its size).
    STDMETHODIMP QueryProgress(LONGLONG* total, LONGLONG* current) override;
    STDMETHODIMP AbortOperation() override;
    // IAMMediaContent: only the title is known.
    STDMETHODIMP get_Title(BSTR* title) override;
    // ISamplePosition
    STDMETHODIMP Reserved(LONG_PTR, LONG_PTR) override { return S_OK; }
    STDMETHODIMP GetSamplePosition(LONGLONG* current, LONGLONG* total) override;

    CBranwickVideoStream* video_stream() const { return video_; }
    CBranwickAudioStream* audio_stream() const { return audio_; }
    CBranwickInputPin* input_pin() const { return input_; }
    // Set when a stream becomes active, cleared by its first delivered sample,
    // which then starts a new segment. One pair per filter, so one player's
    // state changes never reach another's streams.
    std::atomic<bool>& video_new_segment_pending() { return video_new_segment_pending_; }
    std::atomic<bool>& audio_new_segment_pending() { return audio_new_segment_pending_; }

  private:
    // Removes the output streams a failed Load created.
    void DropStreams();
    bool HasStreams() const { return video_ != nullptr || audio_ != nullptr; }

    CBranwickInputPin* input_ = nullptr;
    std::unique_ptr<AvsContainer> container_;
    CBranwickVideoStream* video_ = nullptr;  // owned through the stream list
    CBranwickAudioStream* audio_ = nullptr;
    std::atomic<bool> video_new_segment_pending_{false};
    std::atomic<bool> audio_new_segment_pending_{false};
};

}  // namespace filesource
