// The reporter behind the engine's assertion macros: a report with the calling thread's call stack
// on the debug output, then a breakpoint under a debugger or the assertion dialog otherwise, and
// the program goes on. EAssertionError is the exception form of a failed release assertion.
#pragma once

#include <cstdint>

namespace Orvan {

// Site of the assertion dialog, (0, 444).
inline constexpr std::uint32_t kAssertionDialogId = 444;

// A null message reports as "(no message)". A silenced location reports nothing.
void ReportAssertionFailure(const char* file, std::uint32_t line, const char* expression, const char* message);

// The call stack and "MINIMALIST ASSERTION FAILED" on the debug output; breaks into an attached
// debugger before and after, and otherwise goes on.
void MinimalistAssertionFailed();

// Writes "File : %s @ %d\nTest : %s\nCrash Infos :\n%s" into the crash-information buffer (cut to
// 4095 bytes) and returns the length the whole text would have.
int FormatCrashInfo(const char* file, std::int32_t line, const char* expression, const char* information);

// Silenced locations: a location is the addresses of its file and expression texts and its line
// (the texts themselves are not compared).
void SilenceAssertionLocation(const char* file, std::uint32_t line, const char* expression);
bool IsAssertionLocationSilenced(const char* file, std::uint32_t line, const char* expression);
void ClearSilencedAssertionLocations();

}  // namespace Orvan
