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

// The table's storage itself failed (a full disk, an I/O error, a file that can no longer be
// written): no further record of the same transaction can succeed, so the one who started it
// gives it up as a whole instead of reporting every record that follows.
class EDBStorageError : public EDBEngineError {
  public:
    using EDBEngineError::EDBEngineError;
};

}  // namespace quorvane
