// The option flags live in the core (util/options.hpp); this path forwards
// to them for the files that still include it.
#pragma once

#include "util/options.hpp"
