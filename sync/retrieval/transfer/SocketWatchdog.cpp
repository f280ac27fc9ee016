#include "sync/retrieval/transfer/SocketWatchdog.h"

#include <sys/socket.h>

namespace quorvane {

SocketWatchdog::SocketWatchdog(int fd) : fd_(fd), thread_([this] { Run(); }) {}

SocketWatchdog::~SocketWatchdog() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SocketWatchdog::Arm(std::chrono::milliseconds limit) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        armed_ = limit.count() > 0;
        deadline_ = std::chrono::steady_clock::now() + limit;
    }
    wake_.notify_all();
}

void SocketWatchdog::Disarm() {
    const std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
}

bool SocketWatchdog::Fired() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return fired_;
}

void SocketWatchdog::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (!armed_) {
            wake_.wait(lock);
        } else if (wake_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
                   std::chrono::steady_clock::now() >= deadline_) {
            ::shutdown(fd_, SHUT_RDWR);
            fired_ = true;
            armed_ = false;
        }
    }
}

}  // namespace quorvane
