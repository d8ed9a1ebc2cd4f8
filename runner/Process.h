// Running one program of the suite: its output copied to a log file as it
// comes, a time limit, and a way to stop it from outside.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace acidkit {

struct ProcessResult {
  bool started = false;      // false: could not run it at all (see error)
  std::string error;         // why it could not be run or its log not written
  int exitStatus = -1;       // when it exited
  int signal = 0;            // when a signal ended it
  bool timedOut = false;     // stopped by the time limit
  bool interrupted = false;  // stopped because the runner was asked to stop
  bool stopped = false;      // stopped because spec.stopWhen said so
  double wallSeconds = 0;
  std::string output;  // stdout and stderr as written, also in the log
};

struct ProcessSpec {
  std::string path;
  std::vector<std::string> args;         // after the program's name
  std::vector<std::string> environment;  // "NAME=value" set on top of the runner's own
  std::string logPath;
  double limitSeconds = 0;
  double graceSeconds = 0;
  // Called about every tickSeconds with the elapsed time.
  std::function<void(double elapsed)> onTick;
  double tickSeconds = 1;
  // Asked while it runs, about every 0.1 s: once it says true, the program
  // is stopped as at its limit (SIGTERM, SIGKILL after the grace time).
  std::function<bool()> stopWhen;
};

// Set by the runner's SIGINT/SIGTERM/SIGHUP handler: the running program is
// sent SIGTERM (so that it can clean up) and the suite stops after it.
extern volatile sig_atomic_t gStopRequested;

// SIGINT, SIGTERM and SIGHUP set gStopRequested; SIGPIPE is ignored, so that
// a closed standard output does not end a run before its report.
void installStopSignalHandlers();

// It ran to its end by itself with exit status 0.
bool endedWell(const ProcessResult& r);
// For a reason line: "exit status 1", "ended by SIGKILL", "stopped at its
// limit of 60 s", "stopped on request", or why it could not run.
std::string howItEnded(const ProcessResult& r, double limitSeconds);
// "SIGKILL", or "signal 64" for one without a name.
std::string signalName(int sig);

// Runs the program with the runner's environment (and spec.environment), standard input from
// /dev/null, standard output and error together on a pseudo-terminal of its
// own (so that its output comes line by line). Past the limit its process
// group gets SIGTERM, and SIGKILL after the grace time.
ProcessResult runProcess(const ProcessSpec& spec);

double monotonicSeconds();

}  // namespace acidkit
