// The process logger.
#include "network/logging/global_logger.h"

#include <syslog.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace Orvan::ServerTools {

namespace {

TGlobalLogger* g_logger = nullptr;

}  // namespace

int GetSyslogPriority(std::int32_t level) {
  switch (level) {
    case kLogInformation:
      return LOG_INFO;
    case kLogWarning:
      return LOG_WARNING;
    case kLogError:
      return LOG_ERR;
    case kLogCritical:
      return LOG_CRIT;
    default:
      return LOG_DEBUG;
  }
}

void TGlobalLogger::CreateInstance(bool consoleMode) {
  if (g_logger == nullptr) g_logger = new TGlobalLogger(consoleMode);
}

TGlobalLogger* TGlobalLogger::GetInstance() { return g_logger; }

void TGlobalLogger::DestroyInstance() {
  if (g_logger == nullptr) return;
  g_logger->Close();
  delete g_logger;
  g_logger = nullptr;
}

TGlobalLogger::~TGlobalLogger() { delete logFile_; }

void TGlobalLogger::OpenLogFile(const char* fileName) {
  delete logFile_;
  logFile_ = new std::ofstream(fileName, std::ios::out | std::ios::trunc);
}

void TGlobalLogger::Close() {
  // No count is lost at exit: every window still open is written.
  for (auto& [text, repeats] : repeats_) {
    const std::uint32_t count = repeats.window.TakeAll();
    if (count != 0) WriteCount(text, repeats.level, count);
  }
  repeats_.clear();
  if (logFile_ != nullptr) {
    logFile_->close();
    delete logFile_;
    logFile_ = nullptr;
  }
  if (!consoleMode_) closelog();
}

void TGlobalLogger::Log(std::int32_t level, const char* text) {
  const std::string line(text != nullptr ? text : "");
  TTimeStamp now;
  GetTimeStamp(now);
  auto found = repeats_.find(line);
  if (found == repeats_.end()) {
    if (repeats_.size() >= kLogRepeatTexts) CloseEndedRepeats(now);
    if (repeats_.size() < kLogRepeatTexts) found = repeats_.emplace(line, TRepeats{level}).first;
  }
  if (found != repeats_.end()) {
    TRepeats& repeats = found->second;
    const bool opening = !repeats.window.IsOpen() || repeats.window.HasEnded(now);
    std::uint32_t ended = 0;
    const bool passes = repeats.window.Note(now, ended);
    if (ended != 0) WriteCount(line, repeats.level, ended);
    if (opening) repeats.level = level;
    if (!passes) return;
  }
  Write(level, line + '\n');
}

void TGlobalLogger::WriteCount(const std::string& text, std::int32_t level, std::uint32_t count) {
  Write(level, text + " (repeated " + std::to_string(count) + " times)\n");
}

void TGlobalLogger::FlushRepeats(TTimeStamp now) { CloseEndedRepeats(now); }

void TGlobalLogger::CloseEndedRepeats(TTimeStamp now) {
  for (auto entry = repeats_.begin(); entry != repeats_.end();) {
    if (!entry->second.window.HasEnded(now)) {
      ++entry;
      continue;
    }
    const std::uint32_t count = entry->second.window.TakeEnded(now);
    if (count != 0) WriteCount(entry->first, entry->second.level, count);
    entry = repeats_.erase(entry);
  }
}

void TGlobalLogger::Write(std::int32_t level, const std::string& line) {
  if (logFile_ != nullptr) {
    logFile_->write(line.data(), static_cast<std::streamsize>(line.size()));
    logFile_->flush();
  }
  if (consoleMode_) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
  if (systemLog_) syslog(GetSyslogPriority(level), "%s", line.c_str());
}

void Log(std::int32_t level, const char* text) {
  if (g_logger != nullptr) g_logger->Log(level, text);
}

void LogEventLibraryMessage(int severity, const char* message) { Log(severity, message); }

void LogError(const char* text) { Log(kLogError, text); }

void FlushRepeatedLogLines() {
  if (g_logger == nullptr) return;
  TTimeStamp now;
  GetTimeStamp(now);
  g_logger->FlushRepeats(now);
}

}  // namespace Orvan::ServerTools
