// Helpers for tests that call the converter's phases: the error a phase ends
// the run with, and the log it writes. Header only: it needs the file layer,
// which each test executable links, while the support library does not.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/error.hpp"
#include "io/list_writer.hpp"
#include "io/out_file.hpp"
#include "support/test_support.hpp"

namespace wk::test {

// The RunError that body ends with, or none when it returns.
inline std::optional<RunError> run_error_of(const std::function<void()>& body) {
  try {
    body();
  } catch (const RunError& e) {
    return e;
  }
  return std::nullopt;
}

// Whether body ends the run with exit status `status` and a message holding
// `text`; otherwise says what happened instead. Every message is one of the
// converter's own stop texts, which start with a blank, or starts with the
// program's name.
inline ::testing::AssertionResult ends_run_with(const std::function<void()>& body, int status, std::string_view text) {
  const std::optional<RunError> e = run_error_of(body);
  if (!e) return ::testing::AssertionFailure() << "the run went on; expected: " << text;
  const std::string what = e->what();
  const bool well_formed = what.rfind(" ", 0) == 0 || what.rfind("wavecalc_to_kaven: ", 0) == 0;
  if (e->status() != status || what.find(text) == std::string::npos || !well_formed) {
    return ::testing::AssertionFailure() << "status " << e->status() << ", message \"" << what << "\"; expected status "
                                         << status << " and \"" << text << "\"";
  }
  return ::testing::AssertionSuccess();
}

// EXPECT_RUN_ERROR(statement, status, text): the statement ends the run with
// that exit status and a message holding text.
#define EXPECT_RUN_ERROR(statement, status, text) \
  EXPECT_TRUE(::wk::test::ends_run_with([&] { statement; }, (status), (text)))

// A log (unit 8) written to a file of its own in a fresh temporary folder.
class LogCapture {
 public:
  LogCapture() : file_(8, (dir_ / "run.log").string()), log_(file_) {}
  ListWriter& log() { return log_; }
  // The bytes written so far.
  std::string text() {
    file_.flush();
    return read_file(dir_ / "run.log");
  }
  // The lines written so far, without their CR LF; a line without CR LF
  // fails the test.
  std::vector<std::string> lines() {
    const std::string t = text();
    std::vector<std::string> out;
    for (std::size_t start = 0; start < t.size();) {
      const std::size_t end = t.find("\r\n", start);
      if (end == std::string::npos) {
        ADD_FAILURE() << "log line without CR LF: " << t.substr(start);
        break;
      }
      out.push_back(t.substr(start, end - start));
      start = end + 2;
    }
    return out;
  }

 private:
  TempDir dir_;
  OutFile file_;
  ListWriter log_;
};

}  // namespace wk::test
