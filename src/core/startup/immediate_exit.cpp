// The immediate exit over the process exit primitive.
#include "core/startup/immediate_exit.h"

#include <unistd.h>

namespace Orvan {

void ExitImmediately(std::int32_t status) { ::_exit(status); }

}  // namespace Orvan
