// How the process ends when a signal tells it to: every signal whose default
// action ends the process and that can be caught (SIGINT, SIGTERM, SIGHUP,
// SIGQUIT, SIGPIPE, SIGALRM, SIGUSR1, SIGXCPU, the real-time signals, ...).
//
// The handler removes the temporary field map, writes out the log lines
// still buffered, prints one line on stderr and ends the process by the same
// signal, so that the shell sees the conventional status 128 + signal number
// (130 for SIGINT, 143 for SIGTERM) and a script running the converter stops
// too. A signal that comes once the new map is in place says so. SIGXFSZ
// raised by the kernel for a write past a file-size limit is passed over:
// the write fails with EFBIG and ends the run with a write error naming the
// file, as any other failed write does (sent by another process, SIGXFSZ
// ends the run as the others do). Faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGTRAP, SIGSYS) keep their default action.
#pragma once

namespace wk {

// Installs the handlers; called once by main before the run starts.
void handle_interrupts();

}  // namespace wk
