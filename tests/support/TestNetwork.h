#pragma once

#include <functional>
#include <string>

namespace quorvane::testing {

// A network namespace with a veth link to the machine: 10.x.y.2 inside, 10.x.y.1 outside.
// Names and addresses come from the process id, so that test runs side by side do not meet.
// Needs root; Ok() says whether it could be made.
class TestNetwork {
  public:
    TestNetwork();
    TestNetwork(const TestNetwork&) = delete;
    TestNetwork& operator=(const TestNetwork&) = delete;
    ~TestNetwork();
    bool Ok() const { return ok_; }
    std::string Outside() const { return prefix_ + "1"; }

    // Runs work in a thread inside the namespace; its failure is rethrown here.
    void Inside(const std::function<void()>& work) const;
    // Takes the machine's end of the link down or up again: while it is down, every packet
    // either way is lost without a word, as behind a NAT that forgot the connection.
    bool SetLinkUp(bool up) const;

  private:
    std::string In(const std::string& command) const;
    std::string id_;
    std::string prefix_;
    bool ok_ = false;
};

}  // namespace quorvane::testing
