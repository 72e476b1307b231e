#include "io/interrupt.hpp"

#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "io/out_file.hpp"

namespace wk {

namespace {

// The thread that runs the conversion: the only one that writes the log and
// the field map, so the only one on which the handler may settle them.
pid_t g_main_thread = 0;

// The line on stderr for each signal handled, before and after the new map
// took its place: made before the handlers are installed, so that the
// handler only writes them.
struct Lines {
  std::string unfinished, in_place;
};
Lines g_lines[_NSIG];

void write_stderr(const std::string& text) {
  const char* p = text.data();
  std::size_t n = text.size();
  while (n > 0) {
    const ssize_t w = ::write(STDERR_FILENO, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

extern "C" void on_interrupt(int signo, siginfo_t* info, void*) {
  // The kernel's own SIGXFSZ (sent to the writer, as from the process
  // itself): the write it stopped reports EFBIG.
  if (signo == SIGXFSZ && info != nullptr && info->si_code == SI_USER && info->si_pid == ::getpid()) return;
  if (::gettid() != g_main_thread) {
    // A worker thread (reading an export, computing slices) passes the
    // signal on to the main thread and goes on until it is ended with it.
    const int saved = errno;
    ::tgkill(::getpid(), g_main_thread, signo);
    errno = saved;
    return;
  }
  const bool in_place = OutFile::settle_after_interrupt();
  write_stderr(in_place ? g_lines[signo].in_place : g_lines[signo].unfinished);
  // Ended by the signal itself, its default action restored and unblocked.
  ::signal(signo, SIG_DFL);
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, signo);
  ::pthread_sigmask(SIG_UNBLOCK, &s, nullptr);
  ::raise(signo);
  ::_exit(128 + signo);
}

// The signals whose default action ends the process without a fault.
std::vector<int> ending_signals() {
  std::vector<int> v = {SIGHUP,  SIGINT,  SIGQUIT, SIGUSR1,   SIGUSR2, SIGPIPE, SIGALRM,
                        SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL};
#ifdef SIGSTKFLT
  v.push_back(SIGSTKFLT);
#endif
#ifdef SIGPWR
  v.push_back(SIGPWR);
#endif
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) v.push_back(s);
  return v;
}

std::string signal_name(int signo) {
  if (signo >= SIGRTMIN) return signo == SIGRTMIN ? "SIGRTMIN" : "SIGRTMIN+" + std::to_string(signo - SIGRTMIN);
  const char* abbrev = ::sigabbrev_np(signo);
  return abbrev != nullptr ? std::string("SIG") + abbrev : "signal " + std::to_string(signo);
}

}  // namespace

void handle_interrupts() {
  g_main_thread = ::gettid();
  const std::vector<int> signals = ending_signals();
  for (const int signo : signals) {
    const std::string by = "wavecalc_to_kaven: interrupted by " + signal_name(signo);
    g_lines[signo] = {by + "; the log keeps the lines written so far, and no unfinished field map is left\n",
                      by + " after the run had ended: the log is complete and the new field map is in place\n"};
  }
  struct sigaction sa {};
  sa.sa_sigaction = on_interrupt;
  sigfillset(&sa.sa_mask);
  sa.sa_flags = SA_SIGINFO | SA_RESTART;
  for (const int signo : signals) {
    // A signal ignored by whoever started the converter (SIGINT for a job
    // started in the background by a script, SIGHUP under nohup) stays
    // ignored.
    struct sigaction old {};
    if (::sigaction(signo, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(signo, &sa, nullptr);
  }
}

}  // namespace wk
