#include "core/diagnostics/crash_information.h"

namespace Orvan {

namespace {
// Static storage, so that writing it at a crash needs no allocation.
char g_crashInformation[kCrashInformationBytes];
}  // namespace

char* GetCrashInformation() { return g_crashInformation; }

}  // namespace Orvan
