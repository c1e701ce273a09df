// Filters used only by the tests: a push source with two seekable output pins, and a
// parser that pulls through IAsyncReader and accepts files that start with its signature.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "dshow/streams.h"

namespace avs::test {

// {0C5B7D2A-61E4-4F8E-A3B2-7D41C95E0A11}
inline constexpr CLSID CLSID_TestPushSource = {
    0x0c5b7d2a, 0x61e4, 0x4f8e, {0xa3, 0xb2, 0x7d, 0x41, 0xc9, 0x5e, 0x0a, 0x11}};
// {0C5B7D2A-61E4-4F8E-A3B2-7D41C95E0A12} .. 14
inline constexpr CLSID CLSID_TestParserA = {
    0x0c5b7d2a, 0x61e4, 0x4f8e, {0xa3, 0xb2, 0x7d, 0x41, 0xc9, 0x5e, 0x0a, 0x12}};
inline constexpr CLSID CLSID_TestParserB = {
    0x0c5b7d2a, 0x61e4, 0x4f8e, {0xa3, 0xb2, 0x7d, 0x41, 0xc9, 0x5e, 0x0a, 0x13}};
inline constexpr CLSID CLSID_TestParserAny = {
    0x0c5b7d2a, 0x61e4, 0x4f8e, {0xa3, 0xb2, 0x7d, 0x41, 0xc9, 0x5e, 0x0a, 0x14}};
inline constexpr GUID MEDIATYPE_TestData = {
    0x0c5b7d2a, 0x61e4, 0x4f8e, {0xa3, 0xb2, 0x7d, 0x41, 0xc9, 0x5e, 0x0a, 0x20}};

struct StreamSpec {
    int samples = 10;                  // sample i covers [i*duration, (i+1)*duration)
    REFERENCE_TIME duration = 400000;  // 40 ms
    int sync_every = 3;                // sample i is a sync point when i % sync_every == 0
    LONG size = 64;                    // bytes per sample
    int fill_delay_us = 0;             // simulated work per FillBuffer
    bool endless = false;              // never ends (for time-out tests)
};

class CTestPushSource;

// Output pin with its worker; payload: 4-byte little-endian sample index, then `tag`.
class CTestStream : public CSourceStream, public CSourceSeeking {
  public:
    CTestStream(HRESULT* phr, CTestPushSource* filter, LPCWSTR name, const StreamSpec& spec,
                BYTE tag);

    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return CSourceStream::GetOwner()->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return CSourceStream::GetOwner()->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CSourceStream::GetOwner()->Release(); }

    HRESULT GetMediaType(CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadStartPlay() override;

    HRESULT ChangeStart() override;
    HRESULT ChangeStop() override { return S_OK; }
    HRESULT ChangeRate() override { return S_OK; }

    void Rewind();

    std::atomic<int> change_start_calls{0};
    // Set when a reposition found the worker inside FillBuffer after CMD_STOP: a fault.
    std::atomic<bool> reposition_raced{false};
    std::atomic<int> thread_start_plays{0};

  private:
    void Reposition(int next);
    StreamSpec spec_;
    BYTE tag_;
    CCritSec seek_lock_;  // the seeking values (never the filter lock)
    std::atomic<int> next_{0};
    std::atomic<REFERENCE_TIME> offset_{0};
    std::atomic<bool> discontinuity_{true};
    std::atomic<bool> in_fill_{false};
};

class CTestPushSource : public CSource {
  public:
    CTestPushSource(LPUNKNOWN outer, HRESULT* phr, const StreamSpec& a, const StreamSpec& b);
    static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* phr);
    STDMETHODIMP Stop() override;
    CTestStream* stream(int i) { return static_cast<CTestStream*>(m_paStreams[i]); }
};

// A parser: input pin pulling through IAsyncReader (accepts files whose first bytes equal
// the signature; an empty signature accepts all), one output pin that pushes the file in
// chunks of 100 bytes with the byte offset as time.
class CTestParser : public CSource {
  public:
    CTestParser(LPUNKNOWN outer, HRESULT* phr, const CLSID& clsid, std::string signature);
    ~CTestParser() override;
    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    HRESULT Load(IAsyncReader* reader);
    IAsyncReader* reader() { return reader_; }

    static CUnknown* WINAPI CreateA(LPUNKNOWN outer, HRESULT* phr);
    static CUnknown* WINAPI CreateB(LPUNKNOWN outer, HRESULT* phr);
    static CUnknown* WINAPI CreateAny(LPUNKNOWN outer, HRESULT* phr);

  private:
    class InputPin;
    InputPin* input_;
    std::string signature_;
    IAsyncReader* reader_ = nullptr;
};

}  // namespace avs::test
