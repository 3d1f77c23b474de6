// Test support: tiny tracker modules (XM) written byte by byte, so music
// tests need no data file and run in a second or two.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testmodule {

// An XM of `orders` orders, order n playing pattern n, each pattern `rows`
// empty rows on one channel, no instruments: silent, but its position
// advances exactly like a real song's. One row lasts speed * 2.5 / bpm
// seconds.
std::vector<uint8_t> SilentXm(int orders, int rows, int speed, int bpm);

// Seconds one row of such a module lasts.
double RowSeconds(int speed, int bpm);

// Writes bytes to path; false on failure.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace testmodule
