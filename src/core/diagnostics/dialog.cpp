// The dialog formatter, its headless back end, the suppressed-dialog set and the catcher that turns
// exceptions escaping a thread's body into dialogs.
#include "core/diagnostics/dialog.h"

#include <boost/pool/pool_alloc.hpp>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <set>
#include <utility>

#include "core/diagnostics/call_stack.h"
#include "core/diagnostics/call_stack_symbols.h"
#include "core/diagnostics/crash_information.h"
#include "core/diagnostics/engine_exception.h"
#include "core/singletons/created_on_first_use.h"
#include "core/text/positional_format.h"
#include "core/text/text_encoding.h"
#include "core/threads/thread.h"

namespace Orvan {

namespace {

using TDialogSite = std::pair<std::uint32_t, std::uint32_t>;
// Set nodes come from a Boost pool whose first block holds 32 of them. The dialog mutex guards the
// set, so the pool needs no lock of its own.
using TSuppressedDialogSet =
    std::set<TDialogSite, std::less<TDialogSite>,
             boost::pool_allocator<TDialogSite, boost::default_user_allocator_new_delete,
                                   boost::details::pool::null_mutex, 32>>;

TCreatedOnFirstUse<TMutex> g_dialogMutex;
TCreatedOnFirstUse<TSuppressedDialogSet> g_suppressedDialogs;

std::atomic<TDialogObserver> g_observer{nullptr};
std::atomic<void*> g_observerContext{nullptr};

bool IsSuppressedSite(const TDialogSite& site) {
  TMutexLocker lock(GetDialogMutex());
  return g_suppressedDialogs.Get().count(site) != 0;
}

void SuppressSite(const TDialogSite& site) {
  TMutexLocker lock(GetDialogMutex());
  g_suppressedDialogs.Get().insert(site);
}

// Shown instead of a format that throws: it quotes the format and every argument.
TOrvString<char> BuildMalformedDialogReport(const EException& failure, const char* format,
                                            const TStringStreamable* const* arguments, std::uint32_t count) {
  basic_ostringstream<char> report;
  report << "ATTENTION : la boite de dialogue courante est mal formatt\xC3\xA9" "e. Merci de le notifier aux "
            "programmeurs. "
         << "\n\n";
  report << "Exception thrown when formating a message :" << failure.what() << "\n\n";
  report << "Original message is : " << '"' << format << '"' << "\n";
  if (count > 0) {
    report << "with parameters :" << "\n";
    for (std::uint32_t i = 0; i < count; ++i) {
      report << "    -" << '"';
      arguments[i]->StreamTo(report);
      report << '"' << "\n";
    }
  }
  report << "\n\n";
  return TOrvString<char>(report.str());
}

}  // namespace

TMutex& GetDialogMutex() { return g_dialogMutex.Get(); }

bool IsDialogSuppressed(std::uint32_t idLow, std::uint32_t idHigh) { return IsSuppressedSite({idLow, idHigh}); }

std::uint32_t OrvDialog(const TDialogDescriptor* descriptor, const wchar_t* format,
                        const TStringStreamable* const* arguments, std::uint32_t count) {
  const std::string utf8 = WideToUtf8(format);
  return ShowFormattedDialog(*descriptor, utf8.c_str(), arguments, count);
}

std::uint32_t OrvDialog(const TDialogDescriptor* descriptor, const char* format,
                        const TStringStreamable* const* arguments, std::uint32_t count) {
  return ShowFormattedDialog(*descriptor, format, arguments, count);
}

std::uint32_t ShowFormattedDialog(const TDialogDescriptor& descriptor, const char* format,
                                  const TStringStreamable* const* arguments, std::uint32_t count) {
  const TDialogSite site{descriptor.idLow, descriptor.idHigh};
  const bool suppressible = descriptor.buttonSet == kDialogButtonsIgnoreOnceIgnoreAlwaysQuit;
  if (suppressible && IsSuppressedSite(site)) return kDialogAnswerYes;

  TOrvString<char> text;
  try {
    text = Format(format, arguments, count);
  } catch (const EException& failure) {
    text = BuildMalformedDialogReport(failure, format, arguments, count);
  }

  TOrvString<char> callStack;
  if (descriptor.buttonSet == kDialogButtonsCancelRetryContinue || suppressible ||
      descriptor.callStackRequest == 1) {
    const TSimpleCallStack stack(0, 10, GetCurrentThreadId(), GetCallStackProcessId());
    basic_ostringstream<char> written;
    written << stack;
    callStack = TOrvString<char>(written.str());
  }

  const char* caption = descriptor.caption != nullptr ? descriptor.caption : "";
  if (const TDialogObserver observer = g_observer.load(std::memory_order_acquire)) {
    observer(descriptor, text.c_str(), callStack.c_str(), g_observerContext.load(std::memory_order_acquire));
  }
  const std::uint32_t answer =
      ShowDialogBox(descriptor.callStackRequest, descriptor.buttonSet, caption, text.c_str(), callStack.c_str());
  if (answer == kDialogAnswerYes && suppressible) SuppressSite(site);

  if (descriptor.fatal != 0) {
    std::snprintf(GetCrashInformation(), kCrashInformationBytes, "OrvDialog : %s\n%s", caption, text.c_str());
    std::abort();
  }
  return answer;
}

std::uint32_t ShowDialogBox(std::int32_t /*callStackRequest*/, std::int32_t /*buttonSet*/, const char* caption,
                            const char* message, const char* callStack) {
  // The texts a windowed back end would show; this one shows nothing.
  const std::wstring wideCaption = Utf8ToWide(caption);
  const std::wstring wideMessage = Utf8ToWide(message);
  const std::wstring wideCallStack = Utf8ToWide(callStack);
  return kDialogAnswerYes;
}

std::uint32_t RunCatchingExceptions(TRunnableObject* object) {
  const TDialogDescriptor descriptor{0, kUncaughtExceptionDialogId, 1, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit,
                                     kQuitGameCaption, 0};
  try {
    object->RunInThread();
    return 0;
  } catch (const EException& failure) {
    const TOrvString<wchar_t> message = failure.GetWideMessage();
    const TStringStreamableImpl<const TOrvString<wchar_t>> messageArgument(message);
    const TStringStreamableImpl<const char*> emptyArgument("");
    const TStringStreamable* arguments[] = {&messageArgument, &emptyArgument};
    OrvDialog(&descriptor, "Uncatched EException : %1\n%2", arguments, 2);
  } catch (const std::bad_alloc&) {
    OrvDialog(&descriptor, "NOT ENOUGH MEMORY!", nullptr, 0);
  } catch (const std::exception& failure) {
    const char* const what = failure.what();
    const TStringStreamableImpl<const char* const> whatArgument(what);
    const TStringStreamableImpl<const char*> emptyArgument("");
    const TStringStreamable* arguments[] = {&whatArgument, &emptyArgument};
    OrvDialog(&descriptor, "Uncatched std::exception : %1\n%2", arguments, 2);
  }
  return 1;
}

void SetDialogObserverForTests(TDialogObserver observer, void* context) {
  g_observerContext.store(context, std::memory_order_release);
  g_observer.store(observer, std::memory_order_release);
}

void ResetSuppressedDialogsForTests() {
  TMutexLocker lock(GetDialogMutex());
  g_suppressedDialogs.Get().clear();
}

}  // namespace Orvan
