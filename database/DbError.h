#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// The one error the table layer raises. Its message is French and names the cause, so the
// integration can put it in the run's report as it stands.
class EDBEngineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace quorvane
