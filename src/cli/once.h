#pragma once

#include <cstdio>

namespace corvel {

// Samples once with the system's sources and prints the terminal view (or JSON) to out.
// Returns the process exit status.
int printOnce(bool json, std::FILE* out);

} // namespace corvel
