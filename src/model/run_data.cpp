#include "model/run_data.hpp"
