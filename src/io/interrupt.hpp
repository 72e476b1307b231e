// How the process ends when it is told to: SIGINT (Ctrl-C) or SIGTERM.
//
// The handler removes the temporary field map, writes out the log lines
// still buffered, prints one line on stderr and ends the process by the same
// signal, so that the shell sees the conventional status 128 + signal number
// (130, 143) and a script running the converter stops too. SIGXFSZ is
// ignored: a write past a file-size limit fails with EFBIG and ends the run
// with a write error naming the file, as any other failed write does.
#pragma once

namespace wk {

// Installs the handlers; called once by main before the run starts.
void handle_interrupts();

}  // namespace wk
