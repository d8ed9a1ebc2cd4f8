#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "Format.h"

extern char** environ;

namespace acidkit {

volatile sig_atomic_t gStopRequested = 0;

double monotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

namespace {

// An open file descriptor closed on every path.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= n;
  }
  return true;
}

// What execve takes, made before the fork: the child may only make
// async-signal-safe calls.
struct ExecArgs {
  std::vector<char*> argv;
  std::vector<char*> envp;

  explicit ExecArgs(const ProcessSpec& spec) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      std::string name = entry.substr(0, entry.find('='));
      bool replaced = false;
      for (const std::string& set : spec.environment) replaced |= set.starts_with(name + "=");
      if (!replaced) env.push_back(entry);
    }
    env.insert(env.end(), spec.environment.begin(), spec.environment.end());
    argvStrings_.push_back(spec.path);
    argvStrings_.insert(argvStrings_.end(), spec.args.begin(), spec.args.end());
    envStrings_ = std::move(env);
    for (std::string& a : argvStrings_) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : envStrings_) envp.push_back(e.data());
    envp.push_back(nullptr);
  }

 private:
  std::vector<std::string> argvStrings_;
  std::vector<std::string> envStrings_;
};

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(const ExecArgs& exec, int outFd) {
  setpgid(0, 0);  // its own group: the runner alone decides when it stops
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int in = open("/dev/null", O_RDONLY);
  if (in >= 0) dup2(in, STDIN_FILENO);
  dup2(outFd, STDOUT_FILENO);
  dup2(outFd, STDERR_FILENO);
  execve(exec.argv[0], exec.argv.data(), exec.envp.data());
  const char message[] = "acidkit: cannot execute the program\n";
  ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
  (void)ignored;
  _exit(127);
}

}  // namespace

namespace {

// A terminal of its own, raw so that every byte passes unchanged: the C
// library then writes each line as it is printed, and a stopped program's
// log shows how far it got. Both ends are closed on exec.
bool openTerminal(Fd* readEnd, Fd* writeEnd, std::string* error) {
  int master = -1, slave = -1;
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
    *error = std::string("cannot open a pseudo-terminal: ") + strerror(errno);
    return false;
  }
  readEnd->reset(master);
  writeEnd->reset(slave);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  return true;
}

// Past the limit (or on request, or when the caller's stopWhen says so)
// SIGTERM to the program's group, SIGKILL after the grace time.
class Stopper {
 public:
  Stopper(const ProcessSpec& spec, pid_t pid) : spec_(spec), pid_(pid) {}
  void check(double elapsed, ProcessResult* r) {
    bool overLimit = spec_.limitSeconds > 0 && elapsed > spec_.limitSeconds;
    bool asked = termAt_ < 0 && !overLimit && !gStopRequested && spec_.stopWhen && spec_.stopWhen();
    if (termAt_ < 0 && (overLimit || gStopRequested || asked)) {
      r->timedOut = overLimit;
      r->stopped = asked;
      r->interrupted = !overLimit && !asked;
      kill(-pid_, SIGTERM);
      termAt_ = elapsed;
    } else if (termAt_ >= 0 && elapsed - termAt_ > spec_.graceSeconds) {
      kill(-pid_, SIGKILL);
    }
  }

 private:
  const ProcessSpec& spec_;
  pid_t pid_;
  double termAt_ = -1;  // when SIGTERM went out
};

// Copies the program's output into the result and the log until it has
// exited and its terminal is closed, minding its limit and the ticks.
void follow(const ProcessSpec& spec, pid_t pid, double started, const Fd& readEnd, const Fd& log,
            ProcessResult* r) {
  Stopper stopper(spec, pid);
  bool eof = false, exited = false, logOk = true;
  int status = 0;
  double nextTick = spec.tickSeconds;
  while (!eof || !exited) {
    double elapsed = monotonicSeconds() - started;
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      r->wallSeconds = elapsed;
    }
    if (!exited) {
      stopper.check(elapsed, r);
      if (spec.onTick && elapsed >= nextTick) {
        spec.onTick(elapsed);
        while (nextTick <= elapsed) nextTick += spec.tickSeconds;
      }
    } else if (!eof && elapsed - r->wallSeconds > 2) {
      break;  // something it started still holds the terminal: do not wait for it
    }
    if (eof) {
      if (!exited) usleep(5000);
      continue;
    }
    pollfd p{readEnd.get(), POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;  // timeout or a signal: look at the clock again
    char buffer[65536];
    ssize_t n = read(readEnd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {  // EIO: every writer has closed the terminal
      eof = true;
      continue;
    }
    r->output.append(buffer, n);
    if (logOk && !writeAll(log.get(), buffer, n)) {
      logOk = false;
      r->error = "cannot write " + spec.logPath + ": " + strerror(errno);
    }
  }
  if (WIFEXITED(status)) {
    r->exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r->signal = WTERMSIG(status);
  }
}

}  // namespace

ProcessResult runProcess(const ProcessSpec& spec) {
  ProcessResult r;
  if (access(spec.path.c_str(), X_OK) != 0) {
    r.error = "not found or not executable: " + spec.path + " (" + strerror(errno) + ")";
    return r;
  }
  Fd log(open(spec.logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (log.get() < 0) {
    r.error = "cannot write " + spec.logPath + ": " + strerror(errno);
    return r;
  }
  Fd readEnd, writeEnd;
  if (!openTerminal(&readEnd, &writeEnd, &r.error)) return r;

  ExecArgs exec(spec);
  double started = monotonicSeconds();
  pid_t pid = fork();
  if (pid < 0) {
    r.error = std::string("cannot start a process: ") + strerror(errno);
    return r;
  }
  if (pid == 0) execChild(exec, writeEnd.get());
  setpgid(pid, pid);  // also here, so that no signal can find it in ours
  writeEnd.reset();
  r.started = true;
  follow(spec, pid, started, readEnd, log, &r);
  return r;
}

void onStopSignal(int) {
  gStopRequested = 1;
}

void installStopSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

bool endedWell(const ProcessResult& r) {
  return r.started && !r.timedOut && !r.interrupted && !r.stopped && r.signal == 0 &&
         r.exitStatus == 0;
}

std::string signalName(int sig) {
  const char* name = sigabbrev_np(sig);
  return name != nullptr ? std::string("SIG") + name : format("signal %d", sig);
}

std::string howItEnded(const ProcessResult& r, double limitSeconds) {
  if (!r.started) return r.error;
  if (r.interrupted) return "stopped on request";
  if (r.timedOut) return format("stopped at its limit of %.0f s", limitSeconds);
  if (r.signal != 0) return "ended by " + signalName(r.signal);
  return format("exit status %d", r.exitStatus);
}

}  // namespace acidkit
