// The full start-up and shutdown around the core pair.
#include "core/startup/engine_full_startup.h"

#include "core/diagnostics/core_dump_payload.h"
#include "core/filesystem/game_mode_replay.h"
#include "core/startup/engine_core_startup.h"
#include "core/startup/engine_flags.h"
#include "core/startup/loading_manager.h"
#include "core/time/global_time_manager.h"

namespace Orvan {

namespace {

// Each class's own operator new picks its storage: a static block or the engine allocation. A
// constructor that throws gives the storage back through the matching operator delete.
template <typename T>
void BuildIfAbsent() {
  if (T::GetInstancePointer() == nullptr) new T;
}

// The virtual deleting destructor unregisters the singleton and clears its pointer; a singleton in
// a static block is destroyed without being freed.
template <typename T>
void DestroyIfPresent() {
  if (T* instance = T::GetInstancePointer(); instance != nullptr) delete instance;
}

}  // namespace

void InitEngineFull() {
  InitEngineCore();
  BuildIfAbsent<TCFFlags>();
  BuildIfAbsent<TGlobalTimeManager>();
  BuildIfAbsent<TLoadingManager>();
  BuildIfAbsent<TCoreDumpPayload>();
  BuildIfAbsent<TGameModeReplay>();
  BuildIfAbsent<TCheckDatapackIntegrity>();
  BuildIfAbsent<TStoreIntegration>();
  SetEngineStartedFlag(1);
}

// Not quite the reverse of the start-up: the core-dump payload goes before the game-mode replay
// (neither uses the other).
void ShutdownEngineFull() {
  DestroyIfPresent<TStoreIntegration>();
  DestroyIfPresent<TCheckDatapackIntegrity>();
  DestroyIfPresent<TCoreDumpPayload>();
  DestroyIfPresent<TGameModeReplay>();
  DestroyIfPresent<TLoadingManager>();
  DestroyIfPresent<TGlobalTimeManager>();
  DestroyIfPresent<TCFFlags>();
  ShutdownEngineCore();
}

}  // namespace Orvan
