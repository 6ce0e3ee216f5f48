#pragma once

// The built-in self-test of the program: the history store's round trip in a temporary folder, the
// sensitive-content detector, every paste variant, a named pasteboard and the island painted off
// screen. It never touches the user's history or shelf. A QApplication must exist.

namespace QuillomareMac::SmokeTest {

// Returns only when every check passed. A failed check writes "Smoke test failed: " and its
// description to standard error and ends the process with status 1. While it runs, the language
// choice is "chinese"; the user's own choice (or its absence) is put back before it returns or
// exits.
void run();

} // namespace QuillomareMac::SmokeTest
