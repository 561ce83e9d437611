// The crash-information buffer: one process-wide text that fatal dialogs and FormatCrashInfo fill
// just before the process ends, so that a core dump carries the last fatal text.
#pragma once

#include <cstddef>

namespace Orvan {

// Texts written into it are cut to 4095 bytes and terminated.
inline constexpr std::size_t kCrashInformationBytes = 4096;

char* GetCrashInformation();

}  // namespace Orvan
