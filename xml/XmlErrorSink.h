#pragma once

// libxml2's messages, collected instead of printed: the first error of a load is kept for its
// report, and the thread-wide handlers point at the sink while the load runs.

#include <libxml/xmlerror.h>

#include <string>

namespace quorvane {

struct ErrorSink {
    std::string first;
    bool failed = false;

    void Take(const xmlError* error) noexcept;
};

// Routes libxml2's thread-wide error output to the sink for one load, then restores it.
class ThreadErrorRedirect {
  public:
    explicit ThreadErrorRedirect(ErrorSink& sink);
    ~ThreadErrorRedirect();
    ThreadErrorRedirect(const ThreadErrorRedirect&) = delete;
    ThreadErrorRedirect& operator=(const ThreadErrorRedirect&) = delete;

  private:
    xmlStructuredErrorFunc structured_;
    void* structuredContext_;
    xmlGenericErrorFunc generic_;
    void* genericContext_;
};

}  // namespace quorvane
