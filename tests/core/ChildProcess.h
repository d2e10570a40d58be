// Running a piece of a test in a child process: to kill it part way, to drop privileges
// in it, or to measure the memory it needed without the rest of the suite's.
#pragma once

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

#if defined(__SANITIZE_ADDRESS__)
#define QUARNEL_CHILD_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARNEL_CHILD_UNDER_ASAN 1
#endif
#endif
#ifdef QUARNEL_CHILD_UNDER_ASAN
extern "C" void __sanitizer_purge_allocator();
#endif

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"), 0 when it cannot be read.
inline uint64_t StatusBytes(const char* field) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return 0;
  char line[256];
  uint64_t kb = 0;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      kb = std::strtoull(line + n + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kb * 1024;
}

// Gives freed memory back to the system and restarts the peak count from the memory in use
// now, so that what a child measures next is what it newly needs, not what it can reuse of
// the heap the parent left. Returns that starting point in bytes.
inline uint64_t StartPeakCount() {
#ifdef QUARNEL_CHILD_UNDER_ASAN
  __sanitizer_purge_allocator();
#else
  ::malloc_trim(0);
#endif
  if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);  // 5: reset the peak resident size to the current one
    std::fclose(f);
  }
  return StatusBytes("VmRSS");
}

// Runs work in a forked child that is killed after `seconds`, and reports how far the
// child's peak resident memory rose above what it held when the work began.
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
    const uint64_t before = StartPeakCount();
    const int code = work();
    const uint64_t peak = StatusBytes("VmHWM");
    const uint64_t rise = peak > before ? peak - before : 0;
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
