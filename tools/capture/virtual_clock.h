// The capture's virtual clock: frame k stands at t = k / fps, with exact
// integer arithmetic for sample counts and ticks, and the parsing of the
// frame-rate and music-position options.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace capture {

constexpr int64_t kSampleRate = 44100;
// The live clock thread counts one tick per 14 ms pass.
constexpr int64_t kTickMs = 14;

// Frames per second as an exact fraction num / den.
struct Rate {
  int64_t num = 60;
  int64_t den = 1;
};

// Samples of music that lie before frame k: floor(k * 44100 * den / num).
inline int64_t SamplesUpTo(const Rate& rate, int64_t frame) {
  return frame * kSampleRate * rate.den / rate.num;
}

// Whole 14 ms ticks in t = k / fps: floor(k * 1000 * den / (num * 14)).
inline int64_t TicksAt(const Rate& rate, int64_t frame) {
  return frame * 1000 * rate.den / (rate.num * kTickMs);
}

inline double SecondsAt(const Rate& rate, int64_t frame) {
  return static_cast<double>(frame) * static_cast<double>(rate.den) /
         static_cast<double>(rate.num);
}

inline double FramesPerSecond(const Rate& rate) {
  return static_cast<double>(rate.num) / static_cast<double>(rate.den);
}

inline int64_t Gcd(int64_t a, int64_t b) {
  while (b != 0) {
    const int64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

// Parses a whole number of digits; false on anything else or on overflow.
inline bool ParseCount(const std::string& text, int64_t* value) {
  if (text.empty() || text.size() > 12) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

// "60", "60000/1001" or "29.97"; the rate must lie between 0.1 and 1000 fps.
inline bool ParseRate(const std::string& text, Rate* rate) {
  Rate r;
  const size_t slash = text.find('/');
  const size_t dot = text.find('.');
  if (slash != std::string::npos) {
    if (!ParseCount(text.substr(0, slash), &r.num) || !ParseCount(text.substr(slash + 1), &r.den)) {
      return false;
    }
  } else if (dot != std::string::npos) {
    const std::string whole = text.substr(0, dot);
    const std::string fraction = text.substr(dot + 1);
    int64_t w = 0;
    int64_t f = 0;
    if ((!whole.empty() && !ParseCount(whole, &w)) || fraction.empty() || fraction.size() > 6 ||
        !ParseCount(fraction, &f)) {
      return false;
    }
    r.den = 1;
    for (size_t i = 0; i < fraction.size(); ++i) r.den *= 10;
    r.num = w * r.den + f;
  } else {
    if (!ParseCount(text, &r.num)) return false;
    r.den = 1;
  }
  if (r.num <= 0 || r.den <= 0) return false;
  const int64_t g = Gcd(r.num, r.den);
  r.num /= g;
  r.den /= g;
  // 0.1 <= num / den <= 1000
  if (r.num * 10 < r.den || r.num > r.den * 1000) return false;
  *rate = r;
  return true;
}

// A music position: order and row, ordered as the song plays them.
struct Position {
  int32_t order = 0;
  int32_t row = 0;
};

inline bool operator<(const Position& a, const Position& b) {
  return a.order < b.order || (a.order == b.order && a.row < b.row);
}
inline bool operator<=(const Position& a, const Position& b) { return !(b < a); }

// "ORDER" or "ORDER:ROW". A missing row is 0 for the start of a range and
// the end of the order for its end (whole order included).
inline bool ParsePosition(const std::string& text, bool rangeEnd, Position* position) {
  const size_t colon = text.find(':');
  int64_t order = 0;
  int64_t row = 0;
  if (colon == std::string::npos) {
    if (!ParseCount(text, &order)) return false;
    row = rangeEnd ? std::numeric_limits<int32_t>::max() : 0;
  } else {
    if (!ParseCount(text.substr(0, colon), &order) || !ParseCount(text.substr(colon + 1), &row)) {
      return false;
    }
  }
  if (order > 65535 || row > std::numeric_limits<int32_t>::max()) return false;
  position->order = static_cast<int32_t>(order);
  position->row = static_cast<int32_t>(row);
  return true;
}

}  // namespace capture
