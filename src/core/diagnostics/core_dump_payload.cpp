#include "core/diagnostics/core_dump_payload.h"

namespace Orvan {

namespace {
alignas(TCoreDumpPayload) unsigned char g_payloadStorage[sizeof(TCoreDumpPayload)];
}  // namespace

void* TCoreDumpPayload::operator new(std::size_t /*size*/) { return g_payloadStorage; }

void TCoreDumpPayload::operator delete(void* /*block*/) noexcept {}

}  // namespace Orvan
