#include "run/command_line.hpp"

#include <string_view>

#include "io/error.hpp"
#include "run/run.hpp"

namespace wk {

namespace {

// What the program is, with its version.
std::string what_it_is() {
  return std::string("wavecalc_to_kaven ") + WK_VERSION +
         "\n"
         "Converts an RF cavity eigenmode, exported on a regular 3D grid as ASCII by the\n"
         "Wavecalc field solver, into a KAVEN 3D field map.\n";
}

std::string help_text() {
  const std::string control = kControlFile, log = kLogFile;
  return what_it_is() +
         "\n"
         "Usage: wavecalc_to_kaven              convert in the current folder\n"
         "       wavecalc_to_kaven --help       print this text\n"
         "       wavecalc_to_kaven --version    print the version\n"
         "\n"
         "Reads   " +
         control +
         "   the control file (export names, symmetry keys,\n"
         "                                map number and format, frequency, lengths,\n"
         "                                Fnorm, scale, output grid)\n"
         "        the E and H exports that the control file names\n"
         "Writes  " +
         log +
         "   the log of the run\n"
         "        eh_VRQ.#NN              the field map, NN the map number\n"
         "Nothing goes to stdout; a warning, a stop or a file error is one line on stderr.\n"
         "Exit status: 0 map written, 1 input refused or run stopped, 2 file error.\n";
}

bool prints(std::string_view arg) { return arg == "--help" || arg == "--version"; }

}  // namespace

CommandLine read_command_line(int argc, const char* const argv[]) {
  CommandLine c;
  if (argc <= 1) return c;
  c.convert = false;
  if (argc == 2 && prints(argv[1])) {
    c.out = std::string_view(argv[1]) == "--help" ? help_text() : what_it_is();
    return c;
  }
  // The first argument that is neither option, or else the second option.
  int bad = 1;
  while (bad < argc && prints(argv[bad])) ++bad;
  const std::string what = bad < argc ? "unknown argument " + quote_token(argv[bad]) : "one option at most";
  c.status = kExitUsage;
  c.err = "wavecalc_to_kaven: " + what + "; usage: wavecalc_to_kaven [--help | --version]\n";
  return c;
}

}  // namespace wk
