// The engine's static initialisers, in one unit so that they run in this order, and before the
// initialisers of every other unit (test registration, anything that allocates or locks): a unit
// orders only its own initialisers, and the priority places this one ahead of the rest. Constant
// data is constinit and needs no initialiser; the objects below it are built in the order written
// and destroyed in the reverse order at exit, after every other unit's static objects.
#include "core/memory/global_allocation.h"
#include "core/objects/weak_observer_registry.h"
#include "core/startup/project_table.h"
#include "core/sync/global_shutdown_lock.h"
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

namespace {
// The pool of the weak-observer registry's tree nodes.
const TRunAtStaticInitialisation g_weakObserverNodePool ORV_ENGINE_STATIC_INITIALISER(
    &TWeakObserverRegistry::PrepareNodePool);
}  // namespace

// The project selection before any project is chosen.
constinit TProjectSelection CurrentProjectSelection = {0, "UNKNOWN", "Error!!"};

// The eleven "CriticalSectionForGlobalShutdown" mutexes, in index order.
TGlobalShutdownMutexes GlobalShutdownMutexes ORV_ENGINE_STATIC_INITIALISER;

}  // namespace Orvan
