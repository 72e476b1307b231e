// The one way out of a run other than its normal end.
//
// A run ends early either by a stop (a message the converter itself decides
// on: grid too large, Maxwell check failed, bad output format, or a refused
// export) or by an error of the file layer (a file that cannot be opened,
// read or written). Both are thrown as RunError and caught once, in main,
// which prints the message as one line on stderr and exits with the status.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace wk {

// Exit statuses of the converter.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitStop = 1;       // a stop message or a refused input
inline constexpr int kExitFileError = 2;  // open, read or write failure
inline constexpr int kExitUsage = 2;      // an argument the converter does not take

class RunError : public std::runtime_error {
 public:
  RunError(std::string message, int status) : std::runtime_error(std::move(message)), status_(status) {}
  int status() const noexcept { return status_; }

 private:
  int status_;
};

// Ends the run with one of the converter's own stop messages, printed as it
// stands (leading and trailing blanks included); exit status 1.
[[noreturn]] void stop(std::string_view message);

// Ends the run refusing an input that would give a wrong field map; the
// message is prefixed with the program name; exit status 1.
[[noreturn]] void refuse(std::string_view message);

// Ends the run with an error of the file layer, exit status 2. The message
// reads   wavecalc_to_kaven: unit U (FILE), line N: WHAT
// with the line part left out when line <= 0.
[[noreturn]] void file_error(int unit, std::string_view file, long line, std::string_view what);

// Quotes an offending piece of input for an error message, cut to a sane
// length and with control bytes shown as '?', so that a binary file or a
// megabyte-long line still gives a one-line message.
std::string quote_token(std::string_view token);

// A file name as a message shows it: as it stands when every byte is
// printable ASCII, otherwise in double quotes with each other byte written as
// \xHH (and '"' and a backslash preceded by a backslash), so that a name
// cannot move the cursor, ring the bell or hide part of the message (bytes
// from 0x80 up included: some terminals take 0x9b for a control sequence).
std::string shown_name(std::string_view name);

// A number in a message: up to ten significant digits, so that a value
// reads as the input wrote it ("inf", "nan" for those).
std::string message_number(double v);

// Three significant digits, for a ratio, an angle or a level in a warning.
std::string short_number(double v);

}  // namespace wk
