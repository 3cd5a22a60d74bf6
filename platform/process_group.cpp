#include "platform/process_group.h"

#include <dirent.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace kestrel {
namespace {

struct ProcessStat {
  char state = 0;
  pid_t group = 0;
  uint64_t startTicks = 0;
};

// /proc/<pid>/stat: the command name in parentheses may hold spaces and
// parentheses itself, so the fields are counted from the last ')'.
bool ReadStat(pid_t pid, ProcessStat& stat) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return false;
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  // Field 3 is the state, 5 the process group, 22 the start time.
  for (int number = 3; number <= 22 && fields >> field; ++number) {
    if (number == 3) stat.state = field.empty() ? 0 : field[0];
    if (number == 5) stat.group = pid_t(std::strtol(field.c_str(), nullptr, 10));
    if (number == 22) {
      stat.startTicks = std::strtoull(field.c_str(), nullptr, 10);
      return true;
    }
  }
  return false;
}

bool WaitUntilGone(pid_t group, uint64_t startedSince, int waitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (LiveGroupMembers(group, startedSince).empty()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

uint64_t ProcessStartTicks(pid_t pid) {
  ProcessStat stat;
  return ReadStat(pid, stat) ? stat.startTicks : 0;
}

std::vector<pid_t> LiveGroupMembers(pid_t group, uint64_t startedSince) {
  std::vector<pid_t> members;
  if (group <= 1) return members;
  DIR* proc = opendir("/proc");
  if (!proc) return members;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    ProcessStat stat;
    if (!ReadStat(pid_t(pid), stat) || stat.group != group || stat.state == 'Z') continue;
    if (stat.startTicks >= startedSince) members.push_back(pid_t(pid));
  }
  closedir(proc);
  return members;
}

bool EndProcessGroup(pid_t group, uint64_t startedSince, int termWaitMs) {
  // A group whose members are all gone may have had its number handed to a
  // newer group: without a member that started after ours, nothing is sent.
  if (LiveGroupMembers(group, startedSince).empty()) return false;
  ::kill(-group, SIGTERM);
  if (!WaitUntilGone(group, startedSince, termWaitMs)) {
    ::kill(-group, SIGKILL);
    WaitUntilGone(group, startedSince, 1000);
  }
  return true;
}

}  // namespace kestrel
