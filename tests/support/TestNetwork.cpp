#include "support/TestNetwork.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <thread>

namespace quorvane::testing {
namespace {

bool Sh(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

TestNetwork::TestNetwork()
    : id_(std::to_string(::getpid())),
      prefix_("10." + std::to_string(100 + ::getpid() % 100) + "." +
              std::to_string((::getpid() / 100) % 250) + ".") {
    ok_ = ::geteuid() == 0 && Sh("ip netns add qvn" + id_) &&
          Sh("ip link add qva" + id_ + " type veth peer name qvb" + id_ + " netns qvn" + id_) &&
          Sh("ip addr add " + Outside() + "/30 dev qva" + id_) &&
          Sh("ip link set qva" + id_ + " up") &&
          Sh(In("ip addr add " + prefix_ + "2/30 dev qvb" + id_)) &&
          Sh(In("ip link set qvb" + id_ + " up")) && Sh(In("ip link set lo up"));
}

TestNetwork::~TestNetwork() {
    Sh("ip link del qva" + id_);
    Sh("ip netns del qvn" + id_);
}

void TestNetwork::Inside(const std::function<void()>& work) const {
    std::exception_ptr failure;
    std::thread thread([&] {
        try {
            const int fd = ::open(("/run/netns/qvn" + id_).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
                throw std::runtime_error("cannot join the test's network namespace");
            }
            ::close(fd);
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    thread.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool TestNetwork::SetLinkUp(bool up) const {
    return Sh("ip link set qva" + id_ + (up ? " up" : " down"));
}

std::string TestNetwork::In(const std::string& command) const {
    return "ip netns exec qvn" + id_ + " " + command;
}

}  // namespace quorvane::testing
