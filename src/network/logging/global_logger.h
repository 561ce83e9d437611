// The process logger: every log line of the server (its own, the network library's through the
// hook table, the event library's) ends here with a level and goes to the log file, to standard
// output and, outside console mode, to the system log. Main thread only.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>

#include "core/time/time_stamp.h"
#include "network/logging/repeat_window.h"

namespace Orvan::ServerTools {

// Levels: 0 information, 1 warning, 2 error, 3 critical.
inline constexpr std::int32_t kLogInformation = 0;
inline constexpr std::int32_t kLogWarning = 1;
inline constexpr std::int32_t kLogError = 2;
inline constexpr std::int32_t kLogCritical = 3;

// A line repeated more than this many times within a second is written once with a count, so that
// a fault nobody foresaw cannot fill the disk with one line. The rule, by the line's exact text:
// - a text's first line opens a window of one second; the window's first 100 lines of that text are
//   written as they come, the 101st on are only counted;
// - once the window has ended, its count, when there is one, is written as one line at the level of
//   the text: the text followed by " (repeated N times)", N being the lines that were not written.
//   It is written at the text's next line (before it), or else at the main loop's next pass
//   (FlushRepeatedLogLines), so the count comes at most a loop pass after the second has ended, also
//   when the lines stop; Close writes every count still open;
// - the next line of the text after that opens a new window and is written;
// - every destination (the file, standard output, the system log) gets exactly the same lines.
inline constexpr std::uint32_t kLogRepeatsWritten = 100;
// Texts followed at once. A new text past them, when each of them is still in its second, is
// written as it comes without being followed: the table of texts stays bounded during floods of
// lines that all differ (those have nothing to collapse).
inline constexpr std::uint32_t kLogRepeatTexts = 256;

// The system-log priority of a level: LOG_INFO, LOG_WARNING, LOG_ERR, LOG_CRIT, and LOG_DEBUG for
// any other value.
int GetSyslogPriority(std::int32_t level);

class TGlobalLogger {
 public:
  // Creates the one instance; nothing when it exists.
  static void CreateInstance(bool consoleMode);
  // Null before creation and after destruction.
  static TGlobalLogger* GetInstance();
  // Close, then delete the instance.
  static void DestroyInstance();

  // Replaces the log file by `fileName`, opened for writing and emptied. A file that cannot be
  // opened loses the file lines; the other destinations go on.
  void OpenLogFile(const char* fileName);
  // Closes the log file and, outside console mode, the system log.
  void Close();
  // The text and a newline to each destination in turn: the file (flushed), standard output in
  // console mode, the system log otherwise; a repeated text as the rule above says.
  void Log(std::int32_t level, const char* text);
  // Writes the counts of the windows that have ended by `now`.
  void FlushRepeats(TTimeStamp now);

  bool IsConsoleMode() const { return consoleMode_; }

 private:
  struct TRepeats {
    std::int32_t level;
    Network::TRepeatWindow window{kLogRepeatsWritten};
  };

  explicit TGlobalLogger(bool consoleMode) : consoleMode_(consoleMode), systemLog_(!consoleMode) {}
  ~TGlobalLogger();

  // The line to every destination, as it is.
  void Write(std::int32_t level, const std::string& line);
  void WriteCount(const std::string& text, std::int32_t level, std::uint32_t count);
  // Takes the ended windows out of the table, their counts written.
  void CloseEndedRepeats(TTimeStamp now);

  bool consoleMode_;
  bool systemLog_;
  std::ofstream* logFile_ = nullptr;
  // Texts seen within their window, ordered by text so that counts due together come in one order.
  std::map<std::string, TRepeats> repeats_;
};

// The global entries; each drops the line while there is no logger. Log has the network hook's
// shape; LogEventLibraryMessage the event library's log callback's (severities 0 to 3 are taken as
// levels 0 to 3).
void Log(std::int32_t level, const char* text);
void LogEventLibraryMessage(int severity, const char* message);
void LogError(const char* text);
// Writes the counts of repeated lines whose second has ended: once per pass of the main loop.
void FlushRepeatedLogLines();

}  // namespace Orvan::ServerTools
