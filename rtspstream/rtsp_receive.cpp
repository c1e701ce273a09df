#include "rtspstream/rtsp_receive.h"

#include <cstdio>
#include <vector>

namespace rtspstream {

namespace {
constexpr size_t kLocalReadBytes = 0x28000;
constexpr int kLocalHeaderBytes = 18;
}  // namespace

CRtspReceive::CRtspReceive(std::string url, FrameSink* filter, HRESULT* result)
    : url_(std::move(url)), filter_(filter) {
    if (result) *result = S_OK;
    local_file_ = url_.find("://") == std::string::npos;
    if (local_file_) {
        reader_started_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        reader_stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if ((reader_started_ == nullptr || reader_stop_ == nullptr) && result)
            *result = E_OUTOFMEMORY;
    }
}

CRtspReceive::~CRtspReceive() {
    StopReader();
    if (reader_started_) CloseHandle(reader_started_);
    if (reader_stop_) CloseHandle(reader_stop_);
    session_.reset();  // TEARDOWN when still connected, then the receive thread ends
}

void CRtspReceive::StopReader() {
    if (!reader_thread_) return;
    not_playing_ = true;
    SetEvent(reader_stop_);
    WaitForSingleObject(reader_thread_, INFINITE);
    CloseHandle(reader_thread_);
    reader_thread_ = nullptr;
}

int CRtspReceive::OnFrame(const FrameDescriptor& frame) {
    auto* self = static_cast<CRtspReceive*>(frame.receiver);
    if (self == nullptr) return 0;
    if (frame.lost_before) self->filter_->FrameLost(frame.is_video != 0);
    return self->filter_->Deliver(frame.is_video != 0, frame.data, frame.length, frame.time);
}

void CRtspReceive::OnEnded(void* self) {
    static_cast<CRtspReceive*>(self)->filter_->ServerEnded();
}

bool CRtspReceive::ConnectSession() {
    session_->SetClientConfig(config_);
    session_->SetDeliver(&CRtspReceive::OnFrame, this);
    session_->SetStreamEnd(&CRtspReceive::OnEnded);
    return session_->Connect(url_);
}

bool CRtspReceive::Init() {
    bool ok = false;
    if (local_file_) {
        std::FILE* f = std::fopen(url_.c_str(), "rb");
        if (f == nullptr) {
            MessageBox(nullptr, "CRtspReceive::Init() : Can not open the input file", nullptr,
                       MB_OK);
            title_url_ = url_;
            return false;
        }
        size_t got = std::fread(video_header_.header_bytes, 1, kLocalHeaderBytes, f);
        std::fclose(f);
        video_header_.header_length = kLocalHeaderBytes;
        has_video_ = got > 0;
        ok = has_video_;
    } else if (connected_) {
        ok = true;
    } else {
        session_.reset();  // TEARDOWN of an old set-up, if any
        session_ = std::make_unique<RtspClientSession>();
        ok = ConnectSession();
        if (ok) {
            has_video_ = session_->HasVideo();
            has_audio_ = session_->HasAudio();
            if (has_video_) session_->GetVideoHeader(video_header_);
            if (has_audio_) {
                if (auto format = session_->GetAudioFormat()) audio_format_ = *format;
            }
            connected_ = true;
        }
    }
    title_url_ = url_;
    return ok;
}

void CRtspReceive::OnThreadCreate() {
    if (local_file_) {
        StopReader();  // a reader that ended on its own
        not_playing_ = true;
        ResetEvent(reader_started_);
        ResetEvent(reader_stop_);
        reader_thread_ =
            CreateThread(nullptr, 0, &CRtspReceive::SocketThreadProc, this, 0, nullptr);
        if (reader_thread_ == nullptr) return;
        // The reader clears the flag as it starts; it may also have read the
        // whole file already, so its end counts as started too.
        const HANDLE started[2] = {reader_started_, reader_thread_};
        WaitForMultipleObjects(2, started, FALSE, INFINITE);
        return;
    }
    if (!session_) return;
    if (connected_) {
        not_playing_ = !session_->Play();
    } else if (ConnectSession()) {
        not_playing_ = !session_->Play();
        connected_ = true;
    } else {
        not_playing_ = true;
    }
}

void CRtspReceive::OnThreadDestroy() {
    if (local_file_) {
        not_playing_ = true;
        StopReader();
        return;
    }
    if (!not_playing_ && connected_ && session_) {
        not_playing_ = session_->Teardown();
        connected_ = false;
    }
}

void CRtspReceive::Play() {
    if (session_) session_->Play();
}

void CRtspReceive::Pause() {
    if (session_) session_->Pause();
}

void CRtspReceive::PlayRange(uint32_t start_ms, uint32_t stop_ms) {
    if (session_) session_->PlayRange(start_ms, stop_ms);
}

void CRtspReceive::SetRange(uint32_t start_ms, uint32_t stop_ms) {
    if (session_) session_->SetRange(RtspClientSession::FormatNptRange(start_ms, stop_ms));
}

DWORD WINAPI CRtspReceive::SocketThreadProc(LPVOID param) {
    auto* self = static_cast<CRtspReceive*>(param);
    self->not_playing_ = false;
    SetEvent(self->reader_started_);
    std::FILE* f = std::fopen(self->url_.c_str(), "rb");
    if (f == nullptr) {
        MessageBox(nullptr, "Can not open the input file", nullptr, MB_OK);
        return 1;
    }
    std::vector<uint8_t> chunk(kLocalReadBytes);
    while (!self->not_playing_) {
        size_t got = std::fread(chunk.data(), 1, chunk.size(), f);
        if (got == 0) {
            self->not_playing_ = true;
            break;
        }
        // A refused chunk is offered again; the pin refuses only once stopped,
        // so a retry waits for the reader's own stop rather than spinning.
        while (self->filter_->Deliver(true, chunk.data(), static_cast<uint32_t>(got), 0) < 0 &&
               !self->not_playing_)
            WaitForSingleObject(self->reader_stop_, INFINITE);
    }
    std::fclose(f);
    return 0;
}

}  // namespace rtspstream
