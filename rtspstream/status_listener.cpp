#include "rtspstream/status_listener.h"

#include <future>

#include "net/socket.h"
#include "rtspstream/tallowmere.h"

namespace rtspstream {

StatusListener& StatusListener::Module() {
    static StatusListener listener;
    return listener;
}

void StatusListener::Start(CTallowmere* filter) {
    std::lock_guard lock(mutex_);
    filter_ = filter;
    if (thread_.joinable()) return;
    run_ = true;
    // Load returns once the port answers (or could not be had).
    std::promise<void> ready;
    std::future<void> bound = ready.get_future();
    thread_ = std::thread([this, ready = std::move(ready)]() mutable { Run(ready); });
    bound.wait();
}

void StatusListener::Stop() {
    std::thread ending;
    {
        std::lock_guard lock(mutex_);
        run_ = false;
        ending.swap(thread_);
    }
    if (ending.joinable()) ending.join();
}

void StatusListener::Forget(CTallowmere* filter) {
    bool ours;
    {
        std::lock_guard lock(mutex_);
        ours = filter_ == filter;
        if (ours) filter_ = nullptr;
    }
    if (ours) Stop();
}

void StatusListener::Run(std::promise<void>& ready) {
    namespace net = avs::net;
    // The loopback address only: the replies are for programs on this machine,
    // and a port open to the network would bounce them to forged senders.
    net::Socket fd = net::OpenUdp(kStatusAddress, kStatusPort);
    if (fd == net::kInvalidSocket) {
        // Another player holds the port: this one plays without answering queries.
        AvsTrace("status listener: cannot bind UDP port %u", kStatusPort);
        ready.set_value();
        return;
    }
    net::SetReceiveTimeout(fd, std::chrono::milliseconds(1));  // so that Stop is quick
    ready.set_value();
    while (run_) {
        uint8_t query[2] = {0, 0};
        net::Endpoint from;
        std::ptrdiff_t n = net::ReceiveFrom(fd, query, sizeof query, &from);
        if (n == net::kNoData) continue;
        if (n < 0) break;
        if (n < 1) continue;
        if (query[0] == 2) {
            DWORD bytes = 0;
            {
                std::lock_guard lock(mutex_);
                if (filter_) filter_->GetQueuedVideoBytes(&bytes);
            }
            uint8_t reply[4] = {static_cast<uint8_t>(bytes), static_cast<uint8_t>(bytes >> 8),
                                static_cast<uint8_t>(bytes >> 16),
                                static_cast<uint8_t>(bytes >> 24)};
            net::SendTo(fd, reply, sizeof reply, from);
            net::SendTo(fd, &query[1], 1, from);
        } else if (query[0] == 3) {
            bool buffering = false;
            {
                std::lock_guard lock(mutex_);
                buffering = filter_ && filter_->shared().buffering();
            }
            uint8_t reply[2] = {static_cast<uint8_t>(buffering ? 1 : 0), query[1]};
            net::SendTo(fd, reply, sizeof reply, from);
        }
    }
    net::Close(fd);
}

}  // namespace rtspstream
