// Deferred calls: the base's destruction order.
#include "core/tasks/deferred_call.h"

namespace Orvan {

TAbstractDeferredCall::~TAbstractDeferredCall() {
  orderingIds_.Clear();
  onAfterEval_.reset();
  handle_.Reset();
}

}  // namespace Orvan
