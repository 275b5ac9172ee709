#include "cli/run_flags.hpp"

RunFlags g_flags;
