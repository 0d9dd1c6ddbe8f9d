// Exception types shared by every layer. Failures inside a poll cycle travel as
// exceptions; the poll cycle's handler writes their message to the log.
#pragma once

#include <stdexcept>
#include <string>

namespace zendrel {

// A value that cannot be converted to the type asked for: a date text that is
// not a date, an unknown movement code, a JSON reply that does not fit its record.
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The log file could not be written; the entry is lost and the caller is told.
class LogWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace zendrel
