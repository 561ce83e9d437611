// The chat log appender.
#include "network/logging/log_file_appender.h"

#include <ctime>
#include <fstream>

namespace Orvan::ServerTools {

TLogFileAppender::TLogFileAppender(const TOrvString<char>& fileName, std::int32_t noTimeStamp)
    : fileName_(fileName), timeStamps_(noTimeStamp == 0) {}

void TLogFileAppender::Append(const char* text) {
  std::ofstream file(fileName_.c_str(), std::ios::out | std::ios::app);
  if (!file.is_open()) return;
  if (timeStamps_) file << '[' << static_cast<long long>(std::time(nullptr)) << "] ";
  file << (text != nullptr ? text : "") << '\n';
  file.flush();
}

}  // namespace Orvan::ServerTools
