#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quorvane {

// The SSH library's SFTP calls wait for a reply without end when a server stays silent: armed
// for a request, this shuts the socket down once the request has waited its limit, which ends
// the wait with an error the session then reports as the time-out it is.
class SocketWatchdog {
  public:
    explicit SocketWatchdog(int fd);
    SocketWatchdog(const SocketWatchdog&) = delete;
    SocketWatchdog& operator=(const SocketWatchdog&) = delete;
    ~SocketWatchdog();

    // A limit of zero arms nothing.
    void Arm(std::chrono::milliseconds limit);
    void Disarm();
    bool Fired();

  private:
    void Run();

    int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool armed_ = false;
    bool fired_ = false;
    bool stop_ = false;
    std::chrono::steady_clock::time_point deadline_;
    std::thread thread_;
};

// Arms the watchdog for one request.
class ArmedWatchdog {
  public:
    ArmedWatchdog(SocketWatchdog& watchdog, std::chrono::milliseconds limit) : watchdog_(watchdog) {
        watchdog_.Arm(limit);
    }
    ArmedWatchdog(const ArmedWatchdog&) = delete;
    ArmedWatchdog& operator=(const ArmedWatchdog&) = delete;
    ~ArmedWatchdog() { watchdog_.Disarm(); }

  private:
    SocketWatchdog& watchdog_;
};

}  // namespace quorvane
