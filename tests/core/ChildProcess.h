// Running a piece of a test in a child process: to kill it part way, to drop privileges
// in it, or to measure the memory it needed without the rest of the suite's.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>

namespace child_process {

// How a child process ended.
struct ChildEnd {
  bool exited = false;
  int code = -1;    // exit code when exited
  int signal = 0;   // the signal that ended it otherwise
};

inline ChildEnd WaitFor(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ChildEnd end;
  if (WIFEXITED(status)) {
    end.exited = true;
    end.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    end.signal = WTERMSIG(status);
  }
  return end;
}

// Runs work in a forked child and returns how it ended; the child exits with work's
// result. Nothing the child does reaches this process's state.
inline ChildEnd RunInChild(const std::function<int()>& work) {
  const pid_t pid = ::fork();
  if (pid < 0) std::abort();
  if (pid == 0) ::_exit(work());
  return WaitFor(pid);
}

// The peak resident memory of this process so far, in bytes.
inline uint64_t PeakResidentBytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return uint64_t(usage.ru_maxrss) * 1024;
}

// Runs work in a forked child that is killed after `seconds`, and reports how far the
// child's peak resident memory rose while it ran (a forked child starts at the parent's
// current footprint, so the rise is what the work itself needed).
struct Measured {
  ChildEnd end;
  uint64_t peakRise = 0;
};

inline Measured MeasureInChild(const std::function<int()>& work, unsigned seconds) {
  int fds[2];
  if (::pipe(fds) != 0) std::abort();
  const pid_t pid = ::fork();
  if (pid < 0) std::abort();
  if (pid == 0) {
    ::close(fds[0]);
    ::alarm(seconds);
    const uint64_t before = PeakResidentBytes();
    const int code = work();
    const uint64_t rise = PeakResidentBytes() - before;
    if (::write(fds[1], &rise, sizeof rise) != ssize_t(sizeof rise)) ::_exit(99);
    ::_exit(code);
  }
  ::close(fds[1]);
  Measured measured;
  if (::read(fds[0], &measured.peakRise, sizeof measured.peakRise) !=
      ssize_t(sizeof measured.peakRise))
    measured.peakRise = UINT64_MAX;
  ::close(fds[0]);
  measured.end = WaitFor(pid);
  return measured;
}

}  // namespace child_process
