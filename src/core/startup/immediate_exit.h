// The engine's immediate process exit, for failures after which nothing of the process may run on:
// no destructors, no exit handlers, no stream flushing.
#pragma once

#include <cstdint>

namespace Orvan {

[[noreturn]] void ExitImmediately(std::int32_t status);

}  // namespace Orvan
