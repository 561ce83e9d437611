// The engine's fuller start-up and shutdown: the core pair, plus the global service singletons
// (engine flags, time manager, loading manager, core-dump payload, game-mode replay, data-pack
// check, store flags). The server's main runs only the core pair; engine users that want the
// services run this one instead.
#pragma once

namespace Orvan {

// InitEngineCore, then each global service singleton whose instance pointer is null, in a fixed
// order; then the started flag. A constructor that throws frees what its object took and the
// exception passes on, the singletons built before it left in place (ShutdownEngineFull then
// destroys them).
void InitEngineFull();
// Destroys each global service singleton that exists, then ShutdownEngineCore.
void ShutdownEngineFull();

}  // namespace Orvan
