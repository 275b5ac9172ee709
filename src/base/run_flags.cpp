#include "base/run_flags.hpp"

RunFlags g_flags;
