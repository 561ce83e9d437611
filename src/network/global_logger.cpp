// The process logger.
#include "network/global_logger.h"

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
  if (logFile_ != nullptr) {
    logFile_->close();
    delete logFile_;
    logFile_ = nullptr;
  }
  if (!consoleMode_) closelog();
}

void TGlobalLogger::Log(std::int32_t level, const char* text) {
  std::string line(text != nullptr ? text : "");
  line += '\n';
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

}  // namespace Orvan::ServerTools
