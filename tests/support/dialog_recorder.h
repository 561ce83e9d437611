// Records the engine dialogs shown while it lives and empties the suppressed-dialog set around
// them, so every test starts with no site suppressed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/runtime/dialog.h"

namespace OrvTest {

struct TRecordedDialog {
  std::uint32_t idLow;
  std::uint32_t idHigh;
  std::int32_t callStackRequest;
  std::int32_t buttonSet;
  std::string caption;
  std::string text;
  std::string callStack;
  std::uint8_t fatal;
};

class TDialogRecorder {
 public:
  TDialogRecorder() {
    Orvan::ResetSuppressedDialogsForTests();
    Orvan::SetDialogObserverForTests(&Record, this);
  }
  ~TDialogRecorder() {
    Orvan::SetDialogObserverForTests(nullptr, nullptr);
    Orvan::ResetSuppressedDialogsForTests();
  }
  TDialogRecorder(const TDialogRecorder&) = delete;
  TDialogRecorder& operator=(const TDialogRecorder&) = delete;

  const std::vector<TRecordedDialog>& Dialogs() const { return dialogs_; }
  void Clear() { dialogs_.clear(); }

 private:
  static void Record(const Orvan::TDialogDescriptor& descriptor, const char* text, const char* callStack,
                     void* context) {
    static_cast<TDialogRecorder*>(context)->dialogs_.push_back(
        TRecordedDialog{descriptor.idLow, descriptor.idHigh, descriptor.callStackRequest, descriptor.buttonSet,
                        descriptor.caption != nullptr ? descriptor.caption : "", text, callStack, descriptor.fatal});
  }

  std::vector<TRecordedDialog> dialogs_;
};

}  // namespace OrvTest
