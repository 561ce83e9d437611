// Engine dialogs: developer-facing failures (a malformed format, a missing file in code that may
// not tolerate it, an uncaught exception on a thread, a failed assertion) become a caption, a text
// built by positional formatting and, for most, the call stack. The back end of this server shows
// nothing and answers yes (6), so the code that asked goes on.
#pragma once

#include <cstdint>

#include "core/sync/mutex.h"
#include "core/text/string_streamable.h"

namespace Orvan {

class TRunnableObject;

struct TDialogDescriptor {
  std::uint32_t idLow;             // (idLow, idHigh): the dialog's site
  std::uint32_t idHigh;
  std::int32_t callStackRequest;   // 1 attaches the call stack
  std::int32_t buttonSet;          // kDialogButtons*
  const char* caption;             // UTF-8
  std::uint8_t fatal;              // the process ends after the dialog
};

inline constexpr std::int32_t kDialogButtonsOk = 1;
inline constexpr std::int32_t kDialogButtonsYesNo = 2;
inline constexpr std::int32_t kDialogButtonsOkCancel = 3;
inline constexpr std::int32_t kDialogButtonsCancelRetryContinue = 4;
inline constexpr std::int32_t kDialogButtonsIgnoreOnceIgnoreAlwaysQuit = 7;

inline constexpr std::uint32_t kDialogAnswerOk = 1;
inline constexpr std::uint32_t kDialogAnswerCancel = 2;
inline constexpr std::uint32_t kDialogAnswerRetry = 4;
inline constexpr std::uint32_t kDialogAnswerYes = 6;
inline constexpr std::uint32_t kDialogAnswerNo = 7;
inline constexpr std::uint32_t kDialogAnswerContinue = 11;
inline constexpr std::uint32_t kDialogAnswerIgnoreOnce = 12;
inline constexpr std::uint32_t kDialogAnswerIgnoreAlways = 13;
inline constexpr std::uint32_t kDialogAnswerQuit = 14;

// The caption of the engine's questions.
inline constexpr const char kQuitGameCaption[] = "Quit game ?";
// Site of the uncaught-exception dialogs, (0, 57).
inline constexpr std::uint32_t kUncaughtExceptionDialogId = 57;

// The wide form converts the format to UTF-8 first; both go to ShowFormattedDialog.
std::uint32_t OrvDialog(const TDialogDescriptor* descriptor, const wchar_t* format,
                        const TStringStreamable* const* arguments, std::uint32_t count);
std::uint32_t OrvDialog(const TDialogDescriptor* descriptor, const char* format,
                        const TStringStreamable* const* arguments, std::uint32_t count);

// Skips a site suppressed with button set 7; formats (a malformed format becomes a report that
// quotes the format and its arguments); attaches the call stack; shows the dialog; suppresses the
// site when a button-set-7 dialog is answered yes; ends the process (abort, so a core dump carries
// the crash-information buffer) when the dialog is fatal.
std::uint32_t ShowFormattedDialog(const TDialogDescriptor& descriptor, const char* format,
                                  const TStringStreamable* const* arguments, std::uint32_t count);

// The back end: the texts are converted to wide text, nothing is shown, the answer is 6.
std::uint32_t ShowDialogBox(std::int32_t callStackRequest, std::int32_t buttonSet, const char* caption,
                            const char* message, const char* callStack);

// Whether the site's later button-set-7 dialogs are skipped.
bool IsDialogSuppressed(std::uint32_t idLow, std::uint32_t idHigh);

// The process-wide recursive mutex of the dialog layer; it guards the suppressed-dialog set.
TMutex& GetDialogMutex();

// Runs the object's thread body. An EException, std::bad_alloc or other std::exception that
// escapes is shown as an uncaught-exception dialog and gives 1; other exceptions pass on.
// A normal return gives 0.
std::uint32_t RunCatchingExceptions(TRunnableObject* object);

// ---- Test seams.
// Called with every dialog that is shown, just before the back end.
using TDialogObserver = void (*)(const TDialogDescriptor& descriptor, const char* text, const char* callStack,
                                 void* context);
void SetDialogObserverForTests(TDialogObserver observer, void* context);
// Empties the suppressed-dialog set.
void ResetSuppressedDialogsForTests();

}  // namespace Orvan
