// Records the engine dialogs shown while it lives and empties the suppressed-dialog set around
// them, so every test starts with no site suppressed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/diagnostics/dialog.h"

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

// Whether a dialog is the engine's non-fatal warning at site (0, idHigh): it asks for the call
// stack, offers ignore once / ignore always / quit and is captioned "Quit game ?".
inline ::testing::AssertionResult IsQuitGameWarning(const TRecordedDialog& dialog, std::uint32_t idHigh) {
  if (dialog.idLow != 0 || dialog.idHigh != idHigh) {
    return ::testing::AssertionFailure() << "site (" << dialog.idLow << ", " << dialog.idHigh << "), expected (0, "
                                         << idHigh << ")";
  }
  if (dialog.callStackRequest != 1) {
    return ::testing::AssertionFailure() << "call stack request " << dialog.callStackRequest << ", expected 1";
  }
  if (dialog.buttonSet != 7) {
    return ::testing::AssertionFailure() << "button set " << dialog.buttonSet << ", expected 7";
  }
  if (dialog.caption != "Quit game ?") return ::testing::AssertionFailure() << "caption \"" << dialog.caption << '"';
  if (dialog.fatal != 0) return ::testing::AssertionFailure() << "fatal " << int(dialog.fatal) << ", expected 0";
  return ::testing::AssertionSuccess();
}

}  // namespace OrvTest
