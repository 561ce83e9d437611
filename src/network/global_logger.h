// The process logger: every log line of the server (its own, the network library's through the
// hook table, the event library's) ends here with a level and goes to the log file, to standard
// output and, outside console mode, to the system log. Main thread only.
#pragma once

#include <cstdint>
#include <iosfwd>

namespace Orvan::ServerTools {

// Levels: 0 information, 1 warning, 2 error, 3 critical.
inline constexpr std::int32_t kLogInformation = 0;
inline constexpr std::int32_t kLogWarning = 1;
inline constexpr std::int32_t kLogError = 2;
inline constexpr std::int32_t kLogCritical = 3;

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
  // console mode, the system log otherwise.
  void Log(std::int32_t level, const char* text);

  bool IsConsoleMode() const { return consoleMode_; }

 private:
  explicit TGlobalLogger(bool consoleMode) : consoleMode_(consoleMode), systemLog_(!consoleMode) {}
  ~TGlobalLogger();

  bool consoleMode_;
  bool systemLog_;
  std::ofstream* logFile_ = nullptr;
};

// The global entries; each drops the line while there is no logger. Log has the network hook's
// shape; LogEventLibraryMessage the event library's log callback's (severities 0 to 3 are taken as
// levels 0 to 3).
void Log(std::int32_t level, const char* text);
void LogEventLibraryMessage(int severity, const char* message);
void LogError(const char* text);

}  // namespace Orvan::ServerTools
