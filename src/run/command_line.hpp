// The command line: the converter takes no arguments. --help and --version
// only print; any other argument is a usage error. Neither touches a file.
#pragma once

#include <string>

namespace wk {

// What main does with its arguments.
struct CommandLine {
  bool convert = true;  // no arguments: run the conversion
  int status = 0;       // otherwise, the exit status
  std::string out;      // and the text for stdout
  std::string err;      // and the text for stderr (one line)
};

CommandLine read_command_line(int argc, const char* const argv[]);

}  // namespace wk
