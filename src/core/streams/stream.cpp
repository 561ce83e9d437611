// The stream interface's one default.
#include "core/streams/stream.h"

namespace Orvan {

TOrvString<char> TStream::GetDescription() const { return TOrvString<char>("no info"); }

}  // namespace Orvan
