// The platform's path limit: the fixed text buffers of names and paths, 260 characters with
// their NUL. Pure: the fuzzed core uses it too.
#pragma once

#include <cstddef>

constexpr size_t kNameBuffer = 260;
