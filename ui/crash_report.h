// On a fatal signal, write a report with a backtrace into "D-Error" below the
// current directory, named by the local time of the crash, then let the
// process end as it would have.
#pragma once

#include <ctime>
#include <string>

namespace kestrel::ui {

// "2018-2-3&9-5-7.dmp" for 09:05:07 on 3 February 2018: no zero padding.
std::string CrashReportName(const std::tm& local);

// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT. The
// folder is fixed now, from the current directory at start-up.
void InstallCrashHandler();

// Writes a report for signal into folder (tests call it directly); the path
// written, or "" when the folder or file could not be made.
std::string WriteCrashReport(const std::string& folder, int signal);

}  // namespace kestrel::ui
