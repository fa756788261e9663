// Local time with its zone offset: the one thing the records' text forms need of
// the host, as an interface of its own so that they reach nothing else of it.
#pragma once

#include <ctime>

namespace torvane {

class LocalTimeSource {
 public:
  virtual ~LocalTimeSource() = default;
  // Local time of t, with the zone offset in seconds east of UTC.
  virtual bool LocalTime(time_t t, std::tm& out, long& gmtoffSeconds) = 0;
};

}  // namespace torvane
