#include "symmetry/symmetry.hpp"

namespace wk {

void complete_symmetry(RunData&, ListWriter&) {}

}  // namespace wk
