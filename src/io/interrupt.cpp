#include "io/interrupt.hpp"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "io/out_file.hpp"

namespace wk {

namespace {

// The thread that runs the conversion: the only one that writes the log and
// the field map, so the only one on which the handler may settle them.
pid_t g_main_thread = 0;

void write_stderr(const char* text) {
  std::size_t n = std::strlen(text);
  while (n > 0) {
    const ssize_t w = ::write(STDERR_FILENO, text, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    text += w;
    n -= static_cast<std::size_t>(w);
  }
}

extern "C" void on_interrupt(int signo) {
  if (::gettid() != g_main_thread) {
    // A worker thread (reading an export, computing slices) passes the
    // signal on to the main thread and goes on until it is ended with it.
    const int saved = errno;
    ::tgkill(::getpid(), g_main_thread, signo);
    errno = saved;
    return;
  }
  OutFile::settle_after_interrupt();
  write_stderr(signo == SIGINT ? "wavecalc_to_kaven: interrupted by SIGINT; the log keeps the lines written so far, "
                                 "and no unfinished field map is left\n"
                               : "wavecalc_to_kaven: interrupted by SIGTERM; the log keeps the lines written so far, "
                                 "and no unfinished field map is left\n");
  // Ended by the signal itself, its default action restored and unblocked.
  ::signal(signo, SIG_DFL);
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, signo);
  ::pthread_sigmask(SIG_UNBLOCK, &s, nullptr);
  ::raise(signo);
  ::_exit(128 + signo);
}

}  // namespace

void handle_interrupts() {
  g_main_thread = ::gettid();
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  sigaddset(&sa.sa_mask, SIGINT);
  sigaddset(&sa.sa_mask, SIGTERM);
  sa.sa_flags = SA_RESTART;
  for (const int signo : {SIGINT, SIGTERM}) {
    // A signal ignored by whoever started the converter (SIGINT for a job
    // started in the background by a script) stays ignored.
    struct sigaction old {};
    if (::sigaction(signo, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(signo, &sa, nullptr);
  }
  ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace wk
