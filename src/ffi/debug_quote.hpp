// Quoting texts for messages lives in the core (util/debug_quote.hpp); this
// path forwards to it for the files that still include it.
#pragma once

#include "util/debug_quote.hpp"
