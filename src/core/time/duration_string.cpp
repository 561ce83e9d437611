// The duration text as an engine string.
#include "core/time/duration_string.h"

#include "core/time/time_stamp.h"

namespace Orvan {

TOrvString<char> DurationToString(double seconds) {
  char buffer[128];  // the longest text, "%dmn%ds" of two ints, needs 27 bytes
  FormatDuration(buffer, sizeof(buffer), seconds);
  return TOrvString<char>(buffer);
}

}  // namespace Orvan
