#include "ui/crash_report.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace kestrel::ui {
namespace {

char g_folder[PATH_MAX + 16];  // fixed at install time: a handler must not allocate

void WriteText(int fd, const char* text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = ::write(fd, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

void OnFatalSignal(int signal) {
  WriteCrashReport(g_folder, signal);
  // The default action ends the process (with a core dump where enabled).
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

std::string CrashReportName(const std::tm& local) {
  char name[64];
  std::snprintf(name, sizeof name, "%d-%d-%d&%d-%d-%d.dmp", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
  return name;
}

std::string WriteCrashReport(const std::string& folder, int signal) {
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return {};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string path = folder + "/" + CrashReportName(local);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return {};
  char line[128];
  std::snprintf(line, sizeof line, "Kestrel crashed: signal %d (%s), process %d\nBacktrace:\n", signal,
                strsignal(signal), static_cast<int>(::getpid()));
  WriteText(fd, line);
  void* frames[64];
  const int depth = ::backtrace(frames, 64);
  ::backtrace_symbols_fd(frames, depth, fd);
  ::close(fd);
  return path;
}

void InstallCrashHandler() {
  if (!::getcwd(g_folder, PATH_MAX)) std::strcpy(g_folder, ".");
  std::strcat(g_folder, "/D-Error");
  // backtrace() loads libgcc on first use; do it now, not inside a crash.
  void* warmUp[1];
  ::backtrace(warmUp, 1);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::signal(signal, OnFatalSignal);
}

}  // namespace kestrel::ui
