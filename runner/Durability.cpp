#include "Durability.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "Files.h"
#include "Format.h"
#include "Parse.h"
#include "Process.h"
#include "Report.h"

namespace acidkit {

namespace {

// `durability run` stops by itself after this; the kill comes long before.
constexpr int kRunCapSeconds = 600;

// The last line with text, as a terminal shows it (a progress display's
// rewrites left out), for a failed step's reason.
std::string lastLine(const std::string& output) {
  std::string last;
  for (std::string_view line : splitLines(output)) {
    if (std::string shown = terminalLine(line); !shown.empty()) last = shown;
  }
  return last;
}

// "refdb crash failed (exit status 1), see cycle-2/crash.log: <its last line>"
std::string stepFailure(const std::string& what, const ProcessResult& r, double limit,
                        const std::string& log) {
  std::string text = what + " (" + howItEnded(r, limit) + ")";
  if (!r.started) return text;
  text += ", see " + log;
  if (std::string last = lastLine(r.output); !last.empty()) text += ": " + last;
  return text;
}

// What the cycle is doing: rewritten in place on a terminal; elsewhere a
// line once a minute, so that a long wait is never silent.
class CycleProgress {
 public:
  CycleProgress() : terminal_(isatty(STDOUT_FILENO) == 1) {}

  void show(int cycle, const std::string& doing, double elapsed) {
    if (terminal_) {
      printf("\r\033[Kcycle %d: %s", cycle, doing.c_str());
      fflush(stdout);
    } else if (std::string what = doing.substr(0, doing.find(',')); what != doing_) {
      doing_ = what;
      minutes_ = 0;
    } else if (static_cast<int>(elapsed / 60) > minutes_) {
      minutes_ = static_cast<int>(elapsed / 60);
      printf("cycle %d: still %s (%.0f s)\n", cycle, doing_.c_str(), elapsed);
      fflush(stdout);
    }
  }

  void done(const std::string& text) {
    if (terminal_) printf("\r\033[K");
    fputs(text.c_str(), stdout);
    fflush(stdout);
    doing_.clear();
  }

 private:
  bool terminal_;
  std::string doing_;
  int minutes_ = 0;
};

class Cycle {
 public:
  Cycle(DurabilityRun& run, DurabilityCycle& c, CycleProgress& progress)
      : run_(run),
        o_(run.options),
        c_(c),
        progress_(progress),
        dir_(run.folder + "/" + c.folder),
        journal_(dir_ + "/journal"),
        durability_(o_.binDir + "/durability") {}

  // False when the cycles after it cannot run (run_.stoppedBecause says why).
  bool run(std::mt19937& random) {
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    if (ec) {
      c_.reasons.push_back("cannot create " + dir_ + ": " + ec.message());
      run_.stoppedBecause = "The results cannot be written: " + c_.reasons.back();
      return false;
    }
    std::uniform_real_distribution<double> extra(0, o_.maxExtraSeconds);
    ProcessResult r = stream(extra(random));
    c_.journaled = counter_.update();
    c_.tally = parseRunTally(r.output);
    if (gStopRequested) return stopHere();
    if (!streamEnded(r)) return true;
    if (!restart()) return false;
    verify();
    return !gStopRequested || stopHere();
  }

 private:
  enum class Phase { kFilling, kWaiting, kCrashed, kGivenUp };

  std::string log(const char* step) const { return c_.folder + "/" + step + ".log"; }

  ProcessSpec spec(const std::string& path, std::vector<std::string> args, const char* step,
                   double limit) const {
    ProcessSpec s;
    s.path = path;
    s.args = std::move(args);
    s.logPath = dir_ + "/" + step + ".log";
    s.limitSeconds = limit;
    s.graceSeconds = o_.graceSeconds;
    return s;
  }

  // A step after the stream, with its progress.
  ProcessResult step(const std::string& path, std::vector<std::string> args, const char* name,
                     double limit, const std::string& doing) {
    ProcessSpec s = spec(path, std::move(args), name, limit);
    s.onTick = [this, doing](double elapsed) {
      progress_.show(c_.number, format("%s, %.0f s", doing.c_str(), elapsed), elapsed);
    };
    progress_.show(c_.number, doing, 0);
    return runProcess(s);
  }

  // `durability run` until the journal holds minCommits, a random moment
  // more, the kill, and the stream's own end after it.
  ProcessResult stream(double extraSeconds) {
    ProcessSpec s = spec(durability_,
                         {"run", "--seconds", std::to_string(kRunCapSeconds), "--connections",
                          std::to_string(o_.connections), "--journal", journal_},
                         "run", kRunCapSeconds + o_.endSeconds);
    s.tickSeconds = 0.1;
    s.onTick = [this, extraSeconds](double elapsed) { watch(elapsed, extraSeconds); };
    s.stopWhen = [this] {
      return phase_ == Phase::kGivenUp ||
             (phase_ == Phase::kCrashed && monotonicSeconds() - killedAt_ > o_.endSeconds);
    };
    return runProcess(s);
  }

  void watch(double elapsed, double extraSeconds) {
    if (phase_ == Phase::kFilling) {
      counter_.update();
      progress_.show(c_.number,
                     format("durability run, %lld of %lld commits acknowledged, %.0f s",
                            counter_.count(), o_.minCommits, elapsed),
                     elapsed);
      if (counter_.count() >= o_.minCommits) {
        phase_ = Phase::kWaiting;
        crashAt_ = elapsed + extraSeconds;
      } else if (elapsed > o_.reachSeconds && access(journal_.c_str(), F_OK) != 0) {
        giveUp_ = format("durability run wrote no journal (%s/journal) in %.0f s; see %s",
                         c_.folder.c_str(), o_.reachSeconds, log("run").c_str());
        phase_ = Phase::kGivenUp;
      } else if (elapsed > o_.reachSeconds) {
        giveUp_ = format(
            "the journal held %lld of the %lld acknowledged commits asked for after %.0f s: the "
            "stream is slower than --min-commits asks for (lower it) or stalled; see %s",
            counter_.count(), o_.minCommits, o_.reachSeconds, log("run").c_str());
        phase_ = Phase::kGivenUp;
      }
    } else if (phase_ == Phase::kWaiting && elapsed >= crashAt_) {
      progress_.show(c_.number,
                     format("killing the server at %lld acknowledged commits", counter_.update()),
                     elapsed);
      ProcessResult r = runProcess(spec(run_.options.refdb, {"crash"}, "crash", o_.crashSeconds));
      if (endedWell(r)) {
        killedAt_ = monotonicSeconds();
        c_.crashed = true;
        phase_ = Phase::kCrashed;
      } else {
        giveUp_ = stepFailure("refdb crash failed", r, o_.crashSeconds, log("crash"));
        phase_ = Phase::kGivenUp;
      }
    } else if (phase_ == Phase::kCrashed) {
      double since = monotonicSeconds() - killedAt_;
      progress_.show(c_.number,
                     format("server killed; waiting for durability run to end, %.0f s", since),
                     since);
    }
  }

  // Judges how the stream ended; true when the server was killed and the
  // cycle goes on.
  bool streamEnded(const ProcessResult& r) {
    if (!r.started) {
      c_.reasons.push_back("durability run could not run: " + r.error);
      return false;
    }
    if (phase_ == Phase::kGivenUp) {
      c_.reasons.push_back(giveUp_);
      return false;
    }
    if (phase_ != Phase::kCrashed) {
      c_.reasons.push_back(stepFailure(
          format("durability run ended before the kill with %lld of the %lld acknowledged "
                 "commits asked for",
                 c_.journaled, o_.minCommits),
          r, 0, log("run")));
      return false;
    }
    if (r.stopped) {
      c_.notes.push_back(
          format("durability run had not ended %.0f s after the kill: stopped it "
                 "(%s)",
                 o_.endSeconds, r.signal == SIGKILL ? "SIGTERM, then SIGKILL" : "SIGTERM"));
    } else if (!endedWell(r)) {
      c_.notes.push_back("durability run ended with " + howItEnded(r, 0) + " after the kill; see " +
                         log("run"));
    } else if (!c_.tally.acknowledgedFound) {
      c_.notes.push_back("durability run printed no 'Acknowledged commits:' line: no commit rate");
    }
    return true;
  }

  // `refdb start` and the recovery time; false when the server is not back.
  bool restart() {
    ProcessResult r =
        step(run_.options.refdb, {"start"}, "start", o_.startSeconds, "starting the server again");
    if (!endedWell(r)) {
      c_.reasons.push_back(stepFailure("refdb start failed", r, o_.startSeconds, log("start")));
      if (r.interrupted) return stopHere();
      run_.stoppedBecause = format(
          "The reference server did not come back after the kill of cycle %d (see %s): start it "
          "with '%s start' and see that it answers before running the cycles again.",
          c_.number, log("start").c_str(), run_.options.refdb.c_str());
      return false;
    }
    c_.recoverySeconds = parseRecoverySeconds(r.output);
    if (!c_.recoverySeconds) {
      c_.recoverySeconds = monotonicSeconds() - killedAt_;
      c_.recoveryMeasured = true;
      c_.notes.push_back(
          "refdb start printed no 'recovered from the crash in X s' line: the recovery time is "
          "acidkit's own, from the kill to the end of refdb start (the wait for durability run "
          "included)");
    }
    return true;
  }

  void verify() {
    ProcessResult r = step(durability_, {"verify", "--journal", journal_}, "verify",
                           o_.verifySeconds, "verifying the journal");
    if (!endedWell(r)) {
      c_.reasons.push_back(stepFailure("durability verify could not reach its verdict", r,
                                       o_.verifySeconds, log("verify")));
      return;
    }
    c_.verified = true;
    c_.verify = parseVerifyReport(r.output);
    const VerifyReport& v = c_.verify;
    c_.reasons.insert(c_.reasons.end(), v.reasons.begin(), v.reasons.end());
    for (const std::string& problem : v.problems) {
      c_.reasons.push_back("durability verify's output: " + problem + " (see " + log("verify") +
                           ")");
    }
    if (!v.tableFound) {
      c_.reasons.push_back(
          "durability verify printed no table with a New-Order and a Payment "
          "row (see " +
          log("verify") + ")");
    }
    if (v.verdict == Verdict::kMissing) {
      c_.reasons.push_back("durability verify printed no verdict line (see " + log("verify") + ")");
    } else if (v.verdict == Verdict::kFailed && v.reasons.empty()) {
      c_.reasons.push_back("durability verify failed without a Reason line (see " + log("verify") +
                           ")");
    }
    c_.passed = c_.reasons.empty() && v.verdict == Verdict::kPassed;
  }

  bool stopHere() {
    c_.passed = false;
    if (c_.reasons.empty()) c_.reasons.push_back("stopped on request");
    run_.interrupted = true;
    if (c_.crashed && !c_.recoverySeconds) {
      run_.stoppedBecause = format(
          "Stopped on request after the kill of cycle %d: the reference server is down; start "
          "it with '%s start'.",
          c_.number, run_.options.refdb.c_str());
    }
    return false;
  }

  DurabilityRun& run_;
  const DurabilityOptions& o_;
  DurabilityCycle& c_;
  CycleProgress& progress_;
  const std::string dir_, journal_, durability_;
  JournalCounter counter_{journal_};
  Phase phase_ = Phase::kFilling;
  double crashAt_ = 0;   // elapsed time of the stream at which to kill
  double killedAt_ = 0;  // monotonic
  std::string giveUp_;   // why the stream was stopped without a kill
};

// <results>/durability-YYYYmmdd-HHMMSS, or the folder --into names.
bool makeFolder(const DurabilityOptions& o, std::string* folder, std::string* error) {
  if (o.intoDir.empty()) {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return makeStampedFolder(o.resultsDir, "durability-", local, folder, error);
  }
  std::error_code ec;
  std::filesystem::create_directories(o.intoDir, ec);
  if (ec) {
    *error = "cannot create " + o.intoDir + ": " + ec.message();
    return false;
  }
  *folder = o.intoDir;
  return true;
}

std::string startedAtNow() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

}  // namespace

std::string durabilityCannotRun(const DurabilityOptions& o) {
  const std::string durability = o.binDir + "/durability";
  if (access(durability.c_str(), X_OK) != 0) {
    return "cannot run " + durability + ": " + strerror(errno) +
           "; build durability beside acidkit, or name its folder with --bin DIR";
  }
  if (access(o.refdb.c_str(), X_OK) != 0) {
    return "cannot run the reference database's script " + o.refdb + ": " + strerror(errno) +
           "; name it with --refdb PATH (db/refdb of the kit's sources)";
  }
  return "";
}

void runDurabilityCycles(DurabilityRun* run) {
  const double began = monotonicSeconds();
  std::random_device seed;
  std::mt19937 random(seed());
  CycleProgress progress;
  for (int n = 1; n <= run->options.cycles; ++n) {
    if (gStopRequested) {
      run->interrupted = true;
      break;
    }
    DurabilityCycle c;
    c.number = n;
    c.folder = "cycle-" + std::to_string(n);
    const bool goOn = Cycle(*run, c, progress).run(random);
    run->cycles.push_back(c);
    progress.done(cycleText(c));
    if (!goOn) break;
  }
  run->seconds = monotonicSeconds() - began;
}

bool writeDurabilityReports(const DurabilityRun& run, std::string* error) {
  std::string md = "# Durability test of " + run.startedAt + "\n\n";
  if (!run.options.commandLine.empty()) {
    md += "Command: `" + markdownCell(run.options.commandLine) + "`\n\n";
  }
  md += durabilityMarkdown(run, "##", "");
  nlohmann::json j = durabilityJson(run);
  j["version"] = kReportVersion;
  j["startedAt"] = run.startedAt;
  j["commandLine"] = run.options.commandLine;
  return writeTextFile(run.folder + "/report.md", md, error) &&
         writeTextFile(run.folder + "/report.json", j.dump(2) + "\n", error);
}

int runDurability(const DurabilityOptions& options) {
  installStopSignalHandlers();

  if (std::string why = durabilityCannotRun(options); !why.empty()) {
    fprintf(stderr, "acidkit durability: %s\n", why.c_str());
    return 1;
  }
  DurabilityRun run;
  run.options = options;
  run.startedAt = startedAtNow();
  std::string error;
  if (!makeFolder(options, &run.folder, &error)) {
    fprintf(stderr, "acidkit durability: %s\nChoose another folder with --results DIR.\n",
            error.c_str());
    return 1;
  }
  printf(
      "Durability in %s: %s of the reference database (%s), durability run from %d "
      "connections, the kill 0 to %.0f s after %lld acknowledged commits\n",
      run.folder.c_str(), crashCycles(options.cycles).c_str(), options.refdb.c_str(),
      options.connections, options.maxExtraSeconds, options.minCommits);
  fflush(stdout);
  runDurabilityCycles(&run);
  printf("\n%s", durabilitySummary(run).c_str());
  const bool written = writeDurabilityReports(run, &error);
  if (written) {
    printf("Report: %s/report.md (and report.json)\n", run.folder.c_str());
  } else {
    fprintf(stderr, "acidkit durability: %s\n", error.c_str());
  }
  fflush(stdout);
  if (run.interrupted) return 130;
  return allPassed(run) && written ? 0 : 1;
}

}  // namespace acidkit
