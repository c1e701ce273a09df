#include "rtspstream/status_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <future>

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
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ready.set_value();
        return;
    }
    timeval timeout{0, 1000};  // 1 ms, so that Stop is quick
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(kStatusPort);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        AvsTrace("status listener: cannot bind UDP port %u", kStatusPort);
        close(fd);
        ready.set_value();
        return;
    }
    ready.set_value();
    while (run_) {
        uint8_t query[2] = {0, 0};
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        ssize_t n =
            recvfrom(fd, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            break;
        }
        if (n < 1) continue;
        const auto* to = reinterpret_cast<const sockaddr*>(&from);
        if (query[0] == 2) {
            DWORD bytes = 0;
            {
                std::lock_guard lock(mutex_);
                if (filter_) filter_->GetQueuedVideoBytes(&bytes);
            }
            uint8_t reply[4] = {static_cast<uint8_t>(bytes), static_cast<uint8_t>(bytes >> 8),
                                static_cast<uint8_t>(bytes >> 16),
                                static_cast<uint8_t>(bytes >> 24)};
            sendto(fd, reply, sizeof reply, 0, to, from_length);
            sendto(fd, &query[1], 1, 0, to, from_length);
        } else if (query[0] == 3) {
            bool buffering = false;
            {
                std::lock_guard lock(mutex_);
                buffering = filter_ && filter_->shared().buffering();
            }
            uint8_t reply[2] = {static_cast<uint8_t>(buffering ? 1 : 0), query[1]};
            sendto(fd, reply, sizeof reply, 0, to, from_length);
        }
    }
    close(fd);
}

}  // namespace rtspstream
