// What every in-process fuzz target needs before its first input: a scratch
// directory that stands in for the template store, and the log channel (the
// code under test logs through it) writing to /dev/null.
#pragma once

#include <string>

namespace fuzzenv {

// Creates <tmp>/vorl2547-fuzz-XXXXXX once, points VORL2547_TEMPLATE_DIR at
// its "store/" sub-directory and starts the log channel. Returns the scratch
// root (without a trailing slash). The log queue is removed at exit.
const std::string &setUp();

// The template directory, with a trailing "/".
std::string storeDir();

// Writes a file of size bytes (creating missing parent directories).
void writeFile(const std::string &path, std::size_t size);

} // namespace fuzzenv
