// Tiny XM modules for the music tests, written field by field.
#include "tests/support/test_module.h"

#include <cstdio>
#include <cstring>

namespace testmodule {

namespace {

void Put16(std::vector<uint8_t>* out, int value) {
  out->push_back(static_cast<uint8_t>(value & 0xFF));
  out->push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

void Put32(std::vector<uint8_t>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFF));
}

void PutText(std::vector<uint8_t>* out, const char* text, size_t size) {
  size_t length = std::strlen(text);
  for (size_t i = 0; i < size; ++i) out->push_back(i < length ? static_cast<uint8_t>(text[i]) : 0);
}

}  // namespace

std::vector<uint8_t> SilentXm(int orders, int rows, int speed, int bpm) {
  std::vector<uint8_t> out;
  PutText(&out, "Extended Module: ", 17);
  PutText(&out, "lantern test", 20);
  out.push_back(0x1A);
  PutText(&out, "lantern tests", 20);
  Put16(&out, 0x0104);
  Put32(&out, 276);  // header size from this field on: 20 bytes of fields + 256 orders
  Put16(&out, orders);
  Put16(&out, 0);  // restart position
  Put16(&out, 1);  // channels
  Put16(&out, orders);  // patterns
  Put16(&out, 0);  // instruments
  Put16(&out, 1);  // linear frequency table
  Put16(&out, speed);
  Put16(&out, bpm);
  for (int i = 0; i < 256; ++i) out.push_back(i < orders ? static_cast<uint8_t>(i) : 0);
  // Each pattern: header (length 9, packing 0, rows, packed size), then one
  // packed "empty" byte per row (0x80: a note byte with no fields following).
  for (int p = 0; p < orders; ++p) {
    Put32(&out, 9);
    out.push_back(0);
    Put16(&out, rows);
    Put16(&out, rows);
    for (int r = 0; r < rows; ++r) out.push_back(0x80);
  }
  return out;
}

double RowSeconds(int speed, int bpm) { return speed * 2.5 / bpm; }

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace testmodule
