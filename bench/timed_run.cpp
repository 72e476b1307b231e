// Runs one program and reports its wall time, CPU time and peak resident
// memory, and how busy the rest of the machine was meanwhile, for the
// benchmark script (no /usr/bin/time needed).
// Usage: bench_timed_run [--no-thp] DIR PROGRAM [ARGS...]
//   runs PROGRAM in the folder DIR with its output discarded, and prints
//   "<wall s> <peak resident KiB> <exit status> <CPU s> <other CPU s>
//   <page faults>" on one line: CPU is the user and system time of the
//   program and its threads, other CPU the time every other process of the
//   machine spent on its cores during the run (from /proc/stat; -1 where it
//   cannot be read), page faults the minor and major faults of the program
//   (each first touch of a fresh page is one: a count that, unlike the time
//   a fault costs, does not depend on the machine). With --no-thp the
//   program gets no transparent huge pages, as on a machine whose THP
//   setting is "never".
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Seconds the machine's cores have been busy since boot, or -1.
double busy_seconds() {
  std::FILE* f = std::fopen("/proc/stat", "r");
  if (f == nullptr) return -1;
  unsigned long long v[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  const int n = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                            &v[6], &v[7]);
  std::fclose(f);
  if (n != 8) return -1;
  // user, nice, system, (idle, iowait), irq, softirq, steal
  const unsigned long long busy = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];
  return static_cast<double>(busy) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); }

}  // namespace

int main(int argc, char** argv) {
  const bool no_thp = argc > 1 && std::strcmp(argv[1], "--no-thp") == 0;
  if (no_thp) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_timed_run [--no-thp] DIR PROGRAM [ARGS...]\n");
    return 2;
  }
  const double busy0 = busy_seconds();
  timespec t0{}, t1{};
  clock_gettime(CLOCK_MONOTONIC, &t0);
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("bench_timed_run: fork");
    return 2;
  }
  if (pid == 0) {
    if (chdir(argv[1]) != 0) {
      std::perror("bench_timed_run: chdir");
      _exit(127);
    }
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      close(null);
    }
    // Inherited across exec: the program's mappings get no huge pages.
    if (no_thp && prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) {
      std::perror("bench_timed_run: prctl");
      _exit(127);
    }
    execvp(argv[2], argv + 2);
    std::perror("bench_timed_run: exec");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) < 0) {
    std::perror("bench_timed_run: wait");
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &t1);
  const double busy1 = busy_seconds();
  const double wall = static_cast<double>(t1.tv_sec - t0.tv_sec) + 1e-9 * static_cast<double>(t1.tv_nsec - t0.tv_nsec);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  const double cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  double other = busy0 < 0 || busy1 < 0 ? -1 : busy1 - busy0 - cpu;
  if (other < 0 && other != -1) other = 0;  // the clock ticks are coarser than rusage
  // ru_maxrss is in KiB on Linux.
  std::printf("%.4f %ld %d %.4f %.4f %ld\n", wall, usage.ru_maxrss, code, cpu, other,
              usage.ru_minflt + usage.ru_majflt);
  return 0;
}
