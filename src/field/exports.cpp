// The two exports opened side by side.
#include <string>
#include <string_view>

#include "field/field.hpp"
#include "io/error.hpp"
#include "io/file_units.hpp"
#include "io/line_source.hpp"
#include "io/number_scan.hpp"
#include "io/two_threads.hpp"

namespace wk {

namespace {

// How far the inflation of a compressed export runs ahead of its reading.
constexpr std::size_t kTextWindowBytes = std::size_t{4} << 20;

// The start of a compressed export, looked at before the rest is inflated:
// its first data line must start with a number, as every line of an export
// does. A line that the block may have cut is left to the reading.
void check_export_start(InputText& start, bool whole) {
  LineSource src(start);
  const std::string_view text = start.text();
  std::string_view line;
  std::string_view token;
  while (src.next_line(line)) {
    TokenCursor tokens(line);
    if (!tokens.next(token)) continue;
    const bool cut = !whole && src.next_offset() == text.size() && text.back() != '\n';
    double v;
    if (!cut && !parse_real(token, v)) src.fail(not_a_real(token));
    return;
  }
}

}  // namespace

Exports::Exports(const std::string& efile, const std::string& hfile) : efile_(efile), hfile_(hfile) {
  open(false);
}

void Exports::reopen() {
  ahead.reset();
  e_.reset();
  h_.reset();
  e_error_ = nullptr;
  h_error_ = nullptr;
  open(true);
}

void Exports::open(bool e_whole) {
  on_two_threads([&](int part) {
    std::unique_ptr<InputText>& text = part == 0 ? e_ : h_;
    std::exception_ptr& error = part == 0 ? e_error_ : h_error_;
    Inflating inflating;
    inflating.check_start = check_export_start;
    // Inflated while it is read, a window ahead of the reading, which
    // gives the text back behind it: both read once, as the reading pass
    // that begins during the grid scan reads them. An E text read twice
    // (a grid scan, then a reading pass) is kept whole.
    inflating.stream = true;
    inflating.window = part == 0 && e_whole ? 0 : kTextWindowBytes;
    try {
      text = std::make_unique<InputText>(part == 0 ? kUnitE : kUnitH, part == 0 ? efile_ : hfile_,
                                         InputText::Gzip::inflate, inflating);
    } catch (...) {
      error = std::current_exception();
    }
  });
}

void Exports::refuse_damaged() {
  if (e_) e_->check_intact();
  if (h_) h_->check_intact();
}

InputText& Exports::get(const std::unique_ptr<InputText>& text, const std::exception_ptr& error) {
  if (error) std::rethrow_exception(error);
  return *text;
}

}  // namespace wk
