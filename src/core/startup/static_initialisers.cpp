// The engine's static initialisers, in one unit so that they run in this order, and before the
// initialisers of every other unit (test registration, anything that allocates or locks): a unit
// orders only its own initialisers, and the priority places this one ahead of the rest. Constant
// data is constinit and needs no initialiser; the objects below it are built in the order written
// and destroyed in the reverse order at exit, after every other unit's static objects.
#include "core/memory/global_allocation.h"
#include "core/objects/killable_cleaner.h"
#include "core/objects/killable_container_list.h"
#include "core/objects/weak_observer_registry.h"
#include "core/startup/debug_fill_pattern.h"
#include "core/startup/project_table.h"
#include "core/sync/global_shutdown_lock.h"
#include "core/text/regex.h"
#include "core/threads/thread_attachment.h"

// 101 is the first priority left to programs; a little room stays below for anything that must
// come earlier still.
#define ORV_ENGINE_STATIC_INITIALISER __attribute__((init_priority(200)))

namespace Orvan {

namespace {

struct TRunAtStaticInitialisation {
  explicit TRunAtStaticInitialisation(void (*step)()) { step(); }
};

}  // namespace

// The main thread: the thread that runs these initialisers.
TEngineMainThreadRecord EngineMainThreadRecord ORV_ENGINE_STATIC_INITIALISER;

namespace Domain {
constinit TMemoryDomainRecord AllDomain = {{0, 0, 0}, "AllDomain", 1};
}  // namespace Domain

// The time conversion factors are compile-time constants of the time stamps' unit.

// The cleaner of killables made without one. Constant-initialised; the priority places the
// registration of its destruction here, so it is destroyed after every other unit's objects.
constinit TKillableCleanerDoNothing DefaultKillableCleaner ORV_ENGINE_STATIC_INITIALISER;

namespace {
// The Boost pools of the weak-observer registry's tree nodes and of the killable lists' nodes.
const TRunAtStaticInitialisation g_weakObserverNodePool ORV_ENGINE_STATIC_INITIALISER(
    &TWeakObserverRegistry::PrepareNodePool);
const TRunAtStaticInitialisation g_killableListNodePool ORV_ENGINE_STATIC_INITIALISER(
    &TKillableContainerList::PrepareNodePool);
}  // namespace

// The project selection before any project is chosen.
constinit TProjectSelection CurrentProjectSelection = {0, "UNKNOWN", "Error!!"};

namespace {
// One fill pattern for every fill and check of the run.
const TRunAtStaticInitialisation g_debugFillPattern ORV_ENGINE_STATIC_INITIALISER(&ChooseDebugFillPattern);
// No pattern is ever compiled with another allocator.
const TRunAtStaticInitialisation g_regexAllocationHooks ORV_ENGINE_STATIC_INITIALISER(
    &InstallRegexAllocationHooks);
}  // namespace

// The eleven "CriticalSectionForGlobalShutdown" mutexes, in index order.
TGlobalShutdownMutexes GlobalShutdownMutexes ORV_ENGINE_STATIC_INITIALISER;

}  // namespace Orvan
