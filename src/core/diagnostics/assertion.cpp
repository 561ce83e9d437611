// The assertion reporter, the minimal reporter and the crash-information text.
#include "core/diagnostics/assertion.h"

#include <csignal>
#include <cstdio>
#include <sstream>

#include "core/diagnostics/call_stack.h"
#include "core/diagnostics/call_stack_symbols.h"
#include "core/diagnostics/crash_information.h"
#include "core/diagnostics/debug_output.h"
#include "core/diagnostics/dialog.h"
#include "core/memory/global_allocation.h"
#include "core/singletons/created_on_first_use.h"
#include "core/sync/mutex.h"
#include "core/text/hash_functors.h"
#include "core/text/text_encoding.h"
#include "core/threads/thread_services.h"

namespace Orvan {

namespace {

// Reporters on any thread read the set while something may silence a location: a lock guards it.
struct TSilencedLocations {
  TMutex mutex;
  TLocationSet locations;
};

TCreatedOnFirstUse<TSilencedLocations> g_silenced;

bool IsSilenced(const TLocationKey& location) {
  TSilencedLocations& silenced = g_silenced.Get();
  TMutexLocker lock(silenced.mutex);
  return !silenced.locations.IsEmpty() && silenced.locations.Find(location) != nullptr;
}

void BreakIntoDebugger() {
#if defined(__x86_64__) || defined(__i386__)
  __asm__ volatile("int3");
#else
  std::raise(SIGTRAP);
#endif
}

// The calling thread's call stack, one frame a line, then an empty line.
__attribute__((noinline)) void WriteCallStackOfThisThread(std::wostream& report) {
  try {
    const TSimpleCallStack stack(0, 10, GetCurrentThreadId(), GetCallStackProcessId());
    report << stack;
  } catch (...) {
    report << L"--end of callstack sur erreur --" << L'\n';
  }
  report << L'\n';
}

void WriteToDebugOutput(const std::wstring& report) {
  OutputDebugString_ostream& output = GetDebugOutputStream();
  output << report << L'\n';
  output.flush();
}

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

void ReportAssertionFailure(const char* file, std::uint32_t line, const char* expression, const char* message) {
  if (message == nullptr) message = "(no message)";
  const TLocationKey location{file, expression, line};
  if (IsSilenced(location)) return;

  std::wostringstream report;
  WriteCallStackOfThisThread(report);
  WriteUtf8AsWide(report, file);
  report << L'(' << line << L"): ASSERTION FAILED: (";
  WriteUtf8AsWide(report, expression);
  report << L"): ";
  WriteUtf8AsWide(report, message);
  WriteToDebugOutput(report.str());

  if (IsSilenced(location)) return;
  if (IsDebuggerAttached()) {
    BreakIntoDebugger();
    return;
  }
  const char* const fileText = TextOrEmpty(file);
  const char* const expressionText = TextOrEmpty(expression);
  const TStringStreamableImpl<const char*> fileArgument(fileText);
  const TStringStreamableImpl<const long long> lineArgument(static_cast<long long>(line));
  const TStringStreamableImpl<const char*> expressionArgument(expressionText);
  const TStringStreamableImpl<const char*> messageArgument(message);
  const TStringStreamableImpl<const char*> emptyArgument("");
  const TStringStreamable* arguments[] = {&fileArgument, &lineArgument, &expressionArgument, &messageArgument,
                                          &emptyArgument};
  const TDialogDescriptor descriptor{0, kAssertionDialogId, 1, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit,
                                     kQuitGameCaption, 0};
  OrvDialog(&descriptor, L"Assert!\n%1 (%2)\n%3\n%4", arguments, 5);
}

void MinimalistAssertionFailed() {
  // A trap without a debugger would end the process: only an attached debugger gets one.
  if (IsDebuggerAttached()) BreakIntoDebugger();
  std::wostringstream report;
  WriteCallStackOfThisThread(report);
  report << L"MINIMALIST ASSERTION FAILED";
  WriteToDebugOutput(report.str());
  if (IsDebuggerAttached()) BreakIntoDebugger();
}

int FormatCrashInfo(const char* file, std::int32_t line, const char* expression, const char* information) {
  return std::snprintf(GetCrashInformation(), kCrashInformationBytes, "File : %s @ %d\nTest : %s\nCrash Infos :\n%s",
                       TextOrEmpty(file), static_cast<int>(line), TextOrEmpty(expression), TextOrEmpty(information));
}

void SilenceAssertionLocation(const char* file, std::uint32_t line, const char* expression) {
  TSilencedLocations& silenced = g_silenced.Get();
  TMutexLocker lock(silenced.mutex);
  const TLocationKey location{file, expression, line};
  TLocationKey* entry = nullptr;
  if (silenced.locations.FindOrInsert(location, &entry)) new (entry) TLocationKey(location);
}

bool IsAssertionLocationSilenced(const char* file, std::uint32_t line, const char* expression) {
  return IsSilenced(TLocationKey{file, expression, line});
}

void ClearSilencedAssertionLocations() {
  TSilencedLocations& silenced = g_silenced.Get();
  TMutexLocker lock(silenced.mutex);
  silenced.locations.Clear();
}

}  // namespace Orvan
