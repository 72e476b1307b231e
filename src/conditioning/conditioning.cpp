#include "conditioning/conditioning.hpp"

namespace wk {

void normalise_fields(RunData&, ListWriter&) {}
bool check_maxwell(RunData&, ListWriter&) { return false; }
void correct_signs(RunData&, ListWriter&, bool) {}

}  // namespace wk
