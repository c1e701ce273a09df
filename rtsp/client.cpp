#include "rtsp/client.h"

#include <cstring>
#include <vector>

#include "net/socket.h"
#include "rtsp/url.h"

namespace rtsp {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kInitialBuffer = 256 * 1024;
// Room for the largest message the parser accepts, plus one interleaved packet.
constexpr size_t kMaxBuffer = kMaxHeaderBytes + kMaxBodyBytes + 4 + 65535;
constexpr int kPollMs = 500;

void SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

}  // namespace

std::unique_ptr<Client> Client::Create(const std::string& url, const ClientConfig& config,
                                       std::string* error) {
    std::optional<RtspUrl> target = ParseRtspUrl(url);
    if (!target) {
        SetError(error, "not an rtsp:// address: " + url);
        return nullptr;
    }
    avs::net::Socket fd =
        avs::net::ConnectTcp(target->host, target->port, config.connect_timeout, error);
    if (fd == avs::net::kInvalidSocket) return nullptr;
    avs::net::SetNoDelay(fd);
    avs::net::SetSendTimeout(fd, config.reply_timeout);
    return std::unique_ptr<Client>(new Client(url, config, fd));
}

Client::Client(std::string url, const ClientConfig& config, avs::net::Socket fd)
    : url_(std::move(url)), config_(config), fd_(fd), last_send_(Clock::now()) {
    receiver_ = std::thread([this] { ReceiveLoop(); });
}

Client::~Client() {
    stopping_ = true;
    avs::net::Shutdown(fd_);
    if (receiver_.joinable()) receiver_.join();
    avs::net::Close(fd_);
}

std::string Client::SessionId() const {
    std::lock_guard lock(state_mutex_);
    return session_id_;
}

bool Client::SendText(const std::string& text) {
    return avs::net::SendAll(fd_, text.data(), text.size());
}

ClientError Client::Request(const char* method, const std::string& target,
                            const RequestOptions& options, bool with_session,
                            std::unique_ptr<Reply>* reply) {
    if (reply) reply->reset();
    if (target.empty() || target.find_first_of("\r\n") != std::string::npos ||
        options.accept.find_first_of("\r\n") != std::string::npos ||
        options.transport.find_first_of("\r\n") != std::string::npos ||
        options.range.find_first_of("\r\n") != std::string::npos)
        return ClientError::kArgument;

    std::lock_guard one_at_a_time(request_mutex_);
    if (closed_) return ClientError::kClosed;
    {
        std::lock_guard send_lock(send_mutex_);
        std::string text;
        {
            std::lock_guard lock(state_mutex_);
            uint32_t cseq = next_cseq_++;
            pending_cseq_ = cseq;
            pending_reply_.reset();
            text.reserve(256 + target.size());
            text.append(method).append(" ").append(target).append(" RTSP/1.0\r\n");
            text.append("CSeq: ").append(std::to_string(cseq)).append("\r\n");
            text.append("User-Agent: ").append(config_.user_agent).append("\r\n");
            if (with_session && !session_id_.empty())
                text.append("Session: ").append(session_id_).append("\r\n");
            last_send_ = Clock::now();
        }
        if (!options.accept.empty()) text.append("Accept: ").append(options.accept).append("\r\n");
        if (!options.transport.empty())
            text.append("Transport: ").append(options.transport).append("\r\n");
        if (!options.range.empty()) text.append("Range: ").append(options.range).append("\r\n");
        text.append("\r\n");
        if (!SendText(text)) {
            std::lock_guard lock(state_mutex_);
            pending_cseq_ = 0;
            return ClientError::kSend;
        }
    }

    std::unique_lock lock(state_mutex_);
    reply_ready_.wait_for(lock, config_.reply_timeout,
                          [this] { return pending_reply_ != nullptr || closed_.load(); });
    std::unique_ptr<Message> message = std::move(pending_reply_);
    pending_cseq_ = 0;
    lock.unlock();
    if (!message) return closed_ ? ClientError::kClosed : ClientError::kTimeout;

    auto out = std::make_unique<Reply>();
    out->status_code = message->status_code;
    out->reason = message->reason;
    out->body = message->body;
    if (const std::string* base = message->Header("Content-Base"))
        out->content_base = *base;
    else if (const std::string* location = message->Header("Content-Location"))
        out->content_base = *location;
    bool ok = message->status_code >= 200 && message->status_code <= 299;
    out->message = std::move(*message);
    if (reply) *reply = std::move(out);
    return ok ? ClientError::kOk : ClientError::kStatus;
}

ClientError Client::Describe(const RequestOptions& options, std::unique_ptr<Reply>* reply) {
    return Request("DESCRIBE", url_, options, false, reply);
}

ClientError Client::Setup(const std::string& control_url, const RequestOptions& options,
                          bool aggregate, std::unique_ptr<SetupHandle>* handle,
                          std::unique_ptr<Reply>* reply) {
    if (handle) handle->reset();
    std::unique_ptr<Reply> local;
    ClientError rc = Request("SETUP", control_url, options, aggregate, &local);
    if (rc == ClientError::kOk && handle) {
        auto h = std::make_unique<SetupHandle>();
        h->control_url = control_url;
        if (const std::string* t = local->message.Header("Transport")) h->transport = *t;
        h->session_id = SessionId();
        *handle = std::move(h);
    }
    if (reply) *reply = std::move(local);
    return rc;
}

ClientError Client::RegisterRtpCallback(RtpCallback callback, PeriodicCallback periodic,
                                        int interleave_index, void* user) {
    if (!callback || periodic || interleave_index < 0 || interleave_index >= kMaxInterleaveIndex)
        return ClientError::kArgument;
    std::lock_guard lock(state_mutex_);
    routes_[interleave_index] = {callback, user};
    return ClientError::kOk;
}

ClientError Client::Play(const std::string& control_url, const RequestOptions& options,
                         std::unique_ptr<Reply>* reply) {
    return Request("PLAY", control_url, options, true, reply);
}

ClientError Client::Pause(const std::string& control_url, const RequestOptions& options,
                          std::unique_ptr<Reply>* reply) {
    return Request("PAUSE", control_url, options, true, reply);
}

ClientError Client::Teardown(const std::string& control_url, const RequestOptions& options,
                             std::unique_ptr<Reply>* reply) {
    ClientError rc = Request("TEARDOWN", control_url, options, true, reply);
    if (rc == ClientError::kOk) {
        std::lock_guard lock(state_mutex_);
        session_id_.clear();  // no more keep-alives for a session that is gone
    }
    return rc;
}

void Client::MarkClosed() {
    std::lock_guard lock(state_mutex_);
    closed_ = true;
    reply_ready_.notify_all();
}

void Client::HandleMessage(Message&& message) {
    if (!message.is_reply) {
        // A request from the server (some send OPTIONS or GET_PARAMETER): say
        // we do not implement it, so it does not wait on us.
        std::optional<uint32_t> cseq = message.CSeq();
        std::string text = "RTSP/1.0 501 Not Implemented\r\n";
        if (cseq) text += "CSeq: " + std::to_string(*cseq) + "\r\n";
        text += "\r\n";
        std::lock_guard send_lock(send_mutex_);
        SendText(text);
        return;
    }
    std::lock_guard lock(state_mutex_);
    if (const std::string* session = message.Header("Session")) {
        // "id;timeout=60": the id is sent back as is, the time-out paces keep-alives.
        std::string_view text = *session;
        size_t semi = text.find(';');
        std::string_view id = text.substr(0, semi);
        while (!id.empty() && id.back() == ' ') id.remove_suffix(1);
        if (!id.empty()) session_id_ = std::string(id);
        session_timeout_ = std::chrono::seconds(0);
        if (semi != std::string_view::npos) {
            size_t t = text.find("timeout=", semi);
            if (t != std::string_view::npos) {
                long seconds = std::strtol(std::string(text.substr(t + 8)).c_str(), nullptr, 10);
                if (seconds > 0 && seconds < 86400)
                    session_timeout_ = std::chrono::seconds(seconds);
            }
        }
    }
    std::optional<uint32_t> cseq = message.CSeq();
    if (pending_cseq_ != 0 && !pending_reply_ && (!cseq || *cseq == pending_cseq_)) {
        pending_reply_ = std::make_unique<Message>(std::move(message));
        reply_ready_.notify_all();
    }
    // Anything else is the answer to a keep-alive or to a request that timed out.
}

void Client::MaybeKeepAlive() {
    std::string text;
    {
        std::unique_lock request_lock(request_mutex_, std::try_to_lock);
        if (!request_lock.owns_lock()) return;  // a request is in flight: that keeps it alive
        std::lock_guard send_lock(send_mutex_);
        {
            std::lock_guard lock(state_mutex_);
            if (session_id_.empty() || session_timeout_.count() == 0) return;
            if (Clock::now() - last_send_ < session_timeout_ / 2) return;
            text = "OPTIONS " + url_ + " RTSP/1.0\r\nCSeq: " + std::to_string(next_cseq_++) +
                   "\r\nUser-Agent: " + config_.user_agent + "\r\nSession: " + session_id_ +
                   "\r\n\r\n";
            last_send_ = Clock::now();
        }
        SendText(text);
    }
}

void Client::ReceiveLoop() {
    std::vector<uint8_t> buffer(kInitialBuffer);
    size_t used = 0;
    while (!stopping_) {
        int ready = avs::net::WaitReadable(fd_, kPollMs);
        if (ready < 0) break;
        if (ready == 0) {
            MaybeKeepAlive();
            continue;
        }
        if (used == buffer.size()) {
            if (buffer.size() >= kMaxBuffer) break;  // a message beyond every limit
            buffer.resize(std::min(buffer.size() * 2, kMaxBuffer));
        }
        std::ptrdiff_t n = avs::net::Receive(fd_, buffer.data() + used, buffer.size() - used);
        if (n <= 0) break;
        used += static_cast<size_t>(n);

        size_t start = 0;
        bool broken = false;
        while (start < used && !stopping_) {  // a closing client stops between packets
            ParseResult r = ParseNext(buffer.data() + start, used - start);
            if (r.kind == ParseKind::kError) {
                broken = true;
                break;
            }
            if (r.kind == ParseKind::kInterleaved) {
                Route route;
                {
                    std::lock_guard lock(state_mutex_);
                    route = routes_[r.channel / 2];
                }
                // Channels nobody asked for are dropped here.
                if (route.callback)
                    route.callback(route.user, r.channel, r.packet, r.packet_length);
            } else if (r.kind == ParseKind::kMessage) {
                HandleMessage(std::move(r.message));
            }
            start += r.consumed;
            if (r.kind == ParseKind::kNeedMore) break;
        }
        if (broken) break;
        if (start > 0) {
            std::memmove(buffer.data(), buffer.data() + start, used - start);
            used -= start;
        }
        MaybeKeepAlive();
    }
    MarkClosed();
    avs::net::Shutdown(fd_);
    if (!stopping_ && config_.on_closed) config_.on_closed(config_.on_closed_user);
}

}  // namespace rtsp
