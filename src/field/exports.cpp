// The two exports opened side by side.
#include "field/field.hpp"
#include "io/file_units.hpp"
#include "io/two_threads.hpp"

namespace wk {

Exports::Exports(const std::string& efile, const std::string& hfile) {
  on_two_threads([&](int part) {
    std::unique_ptr<InputText>& text = part == 0 ? e_ : h_;
    std::exception_ptr& error = part == 0 ? e_error_ : h_error_;
    try {
      text = std::make_unique<InputText>(part == 0 ? kUnitE : kUnitH, part == 0 ? efile : hfile);
    } catch (...) {
      error = std::current_exception();
    }
  });
}

InputText& Exports::get(const std::unique_ptr<InputText>& text, const std::exception_ptr& error) {
  if (error) std::rethrow_exception(error);
  return *text;
}

}  // namespace wk
