// Test support: text split into its lines, for checking what a program or
// the code under test wrote on stderr line by line.
#pragma once

#include <string>
#include <vector>

namespace harness {

// The non-empty lines of text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

}  // namespace harness
