// wavecalc_to_kaven: converts one cavity eigenmode exported by the field
// solver into a KAVEN 3D field map. No arguments: everything comes from
// wavecalc_to_kaven.dat in the current folder. Writes nothing on stdout;
// a stop or a file error is one line on stderr with exit status 1 or 2;
// a signal that ends a process (SIGINT, SIGTERM, SIGHUP, ...) ends it with
// the signal's status (interrupt.hpp).
// --help and --version print and touch no file.
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "io/error.hpp"
#include "io/interrupt.hpp"
#include "run/command_line.hpp"
#include "run/run.hpp"

int main(int argc, char* argv[]) {
  const wk::CommandLine command = wk::read_command_line(argc, argv);
  if (!command.convert) {
    std::fputs(command.out.c_str(), stdout);
    std::fputs(command.err.c_str(), stderr);
    return command.status;
  }
  wk::handle_interrupts();
  try {
    for (const std::string& w : wk::run_conversion())
      std::fprintf(stderr, "wavecalc_to_kaven: warning: %s\n", w.c_str());
  } catch (const wk::RunError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return e.status();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "wavecalc_to_kaven: out of memory\n");
    return wk::kExitFileError;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wavecalc_to_kaven: internal error: %s\n", e.what());
    return wk::kExitFileError;
  }
  return wk::kExitNormal;
}
