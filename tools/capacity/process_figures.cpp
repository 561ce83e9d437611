// Reading /proc/<pid>/stat and /proc/<pid>/status.
#include "capacity/process_figures.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace OrvCapacity {

double ReadCpuSeconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(file, text)) return -1.0;
  // The command name (field 2) is in parentheses and may hold spaces: count fields after its end.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1.0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long user = 0;
  unsigned long long system = 0;
  // Fields from 3 (state) on; utime is field 14 and stime field 15.
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number == 14) user = std::stoull(field);
    if (number == 15) system = std::stoull(field);
  }
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long ReadPeakResidentKilobytes(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

double ReadCoresIdleSeconds(int cores) {
  std::ifstream file("/proc/stat");
  std::string line;
  unsigned long long idle = 0;
  int found = 0;
  while (std::getline(file, line)) {
    if (line.rfind("cpu", 0) != 0 || line.size() < 4 || line[3] < '0' || line[3] > '9') continue;
    std::istringstream fields(line.substr(3));
    int core = 0;
    // user nice system idle iowait
    unsigned long long value[5] = {};
    fields >> core;
    for (unsigned long long& field : value) fields >> field;
    if (core >= cores || !fields) continue;
    idle += value[3] + value[4];
    ++found;
  }
  if (found == 0) return -1.0;
  return static_cast<double>(idle) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double Percentile(std::vector<double>& samples, double fraction) {
  if (samples.empty()) return 0.0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(fraction * static_cast<double>(samples.size()));
  const std::size_t index = rank < 1.0 ? 0 : static_cast<std::size_t>(rank) - 1;
  return samples[std::min(index, samples.size() - 1)];
}

}  // namespace OrvCapacity
