// The seven exported functions. Streams live in a handle table so that a stale or made-up
// handle is refused instead of dereferenced.
#include <lame/lame.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "lame_enc/blade_enc.h"
#include "lame_stream.h"
#include "tag_frame_writer.h"

#ifdef _WIN32
// exports.def names the exports, undecorated.
#define LAME_ENC_EXPORT extern "C"
#else
#define LAME_ENC_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

struct Registry {
    std::mutex mutex;
    std::map<HBE_STREAM, std::unique_ptr<lame_enc::LameStream>> streams;
    HBE_STREAM next = 1;
    // Header frame of the stream flushed last, for beWriteVBRHeader(path), which has no handle.
    std::vector<unsigned char> last_tag;
};

Registry& registry() {
    static Registry r;
    return r;
}

lame_enc::LameStream* Find(HBE_STREAM handle) {
    auto& r = registry();
    auto it = r.streams.find(handle);
    return it == r.streams.end() ? nullptr : it->second.get();
}

}  // namespace

LAME_ENC_EXPORT BE_ERR beInitStream(PBE_CONFIG pbeConfig, blade::BE_DWORD* dwSamples,
                                    blade::BE_DWORD* dwBufferSize, PHBE_STREAM phbeStream) {
    if (pbeConfig == nullptr || dwSamples == nullptr || dwBufferSize == nullptr ||
        phbeStream == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    std::unique_ptr<lame_enc::LameStream> stream;
    if (BE_ERR err = lame_enc::LameStream::Open(*pbeConfig, stream); err != BE_ERR_SUCCESSFUL)
        return err;
    *dwSamples = stream->SamplesPerChunk();
    *dwBufferSize = stream->BufferSize();
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    const HBE_STREAM handle = r.next++;
    r.streams.emplace(handle, std::move(stream));
    *phbeStream = handle;
    return BE_ERR_SUCCESSFUL;
}

LAME_ENC_EXPORT BE_ERR beEncodeChunk(HBE_STREAM hbeStream, blade::BE_DWORD nSamples,
                                     short* pSamples, unsigned char* pOutput,
                                     blade::BE_DWORD* pdwOutput) {
    // One stream is used by one thread at a time; the lock only guards the table.
    lame_enc::LameStream* stream;
    {
        std::lock_guard lock(registry().mutex);
        stream = Find(hbeStream);
    }
    if (stream == nullptr) return BE_ERR_INVALID_HANDLE;
    return stream->Encode(nSamples, pSamples, pOutput, pdwOutput);
}

LAME_ENC_EXPORT BE_ERR beDeinitStream(HBE_STREAM hbeStream, unsigned char* pOutput,
                                      blade::BE_DWORD* pdwOutput) {
    lame_enc::LameStream* stream;
    {
        std::lock_guard lock(registry().mutex);
        stream = Find(hbeStream);
    }
    if (stream == nullptr) return BE_ERR_INVALID_HANDLE;
    const BE_ERR err = stream->Flush(pOutput, pdwOutput);
    if (err == BE_ERR_SUCCESSFUL && stream->WritesTag()) {
        std::lock_guard lock(registry().mutex);
        registry().last_tag = stream->TagFrame();
    }
    return err;
}

LAME_ENC_EXPORT BE_ERR beCloseStream(HBE_STREAM hbeStream) {
    std::unique_ptr<lame_enc::LameStream> stream;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.streams.find(hbeStream);
        if (it == r.streams.end()) return BE_ERR_INVALID_HANDLE;
        stream = std::move(it->second);
        r.streams.erase(it);
    }
    return BE_ERR_SUCCESSFUL;
}

LAME_ENC_EXPORT void beVersion(PBE_VERSION pbeVersion) {
    if (pbeVersion == nullptr) return;
    std::memset(pbeVersion, 0, sizeof *pbeVersion);
    lame_version_t v;
    get_lame_version_numerical(&v);
    // Interface level of the BladeEnc-style exports this module offers.
    pbeVersion->byDLLMajorVersion = 1;
    pbeVersion->byDLLMinorVersion = 32;
    pbeVersion->byMajorVersion = static_cast<blade::BE_BYTE>(v.major);
    pbeVersion->byMinorVersion = static_cast<blade::BE_BYTE>(v.minor);
    pbeVersion->byAlphaLevel = static_cast<blade::BE_BYTE>(v.alpha);
    pbeVersion->byBetaLevel = static_cast<blade::BE_BYTE>(v.beta);
    // Release date of this module: the day it was built.
    static const char* const kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* built = __DATE__;  // "Mmm dd yyyy"
    for (int i = 0; i < 12; ++i)
        if (std::strncmp(kMonths + 3 * i, built, 3) == 0)
            pbeVersion->byMonth = static_cast<blade::BE_BYTE>(i + 1);
    pbeVersion->byDay = static_cast<blade::BE_BYTE>(std::atoi(built + 4));
    pbeVersion->wYear = static_cast<blade::BE_WORD>(std::atoi(built + 7));
    std::snprintf(pbeVersion->zHomepage, sizeof pbeVersion->zHomepage, "%s", get_lame_url());
}

LAME_ENC_EXPORT BE_ERR beWriteVBRHeader(const char* lpszFileName) {
    std::vector<unsigned char> tag;
    {
        std::lock_guard lock(registry().mutex);
        tag = registry().last_tag;
    }
    if (tag.empty()) return BE_ERR_INVALID_HANDLE;
    return lame_enc::WriteTagFrame(lpszFileName, tag);
}

LAME_ENC_EXPORT BE_ERR beWriteInfoTag(HBE_STREAM hbeStream, const char* lpszFileName) {
    std::vector<unsigned char> tag;
    bool wanted;
    {
        std::lock_guard lock(registry().mutex);
        lame_enc::LameStream* stream = Find(hbeStream);
        if (stream == nullptr) return BE_ERR_INVALID_HANDLE;
        if (!stream->Flushed()) return BE_ERR_INVALID_FORMAT_PARAMETERS;
        wanted = stream->WritesTag();
        tag = stream->TagFrame();
    }
    // Writing the tag ends the stream, whether or not the record asked for one.
    BE_ERR err = BE_ERR_SUCCESSFUL;
    if (wanted && lpszFileName != nullptr) err = lame_enc::WriteTagFrame(lpszFileName, tag);
    beCloseStream(hbeStream);
    return err;
}
