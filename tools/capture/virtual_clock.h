// The capture's virtual clock: frame k stands at t = k / fps. The sample
// and tick arithmetic is the skip-ahead's (timeline/skip_ahead.h), shared
// with the live program; here are the capture's names for it and the
// parsing of the frame-rate and music-position options.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "timeline/skip_ahead.h"

namespace capture {

constexpr int64_t kSampleRate = 44100;

// Frames per second as an exact fraction num / den.
using Rate = FrameRate;

// A music position: order and row, ordered as the song plays them.
using Position = ShowPosition;

// Samples of music that lie before frame k: floor(k * 44100 * den / num).
inline int64_t SamplesUpTo(const Rate& rate, int64_t frame) {
  return SamplesBeforeFrame(rate, kSampleRate, frame);
}

// Whole 14 ms ticks in t = k / fps: floor(k * 1000 * den / (num * 14)).
inline int64_t TicksAt(const Rate& rate, int64_t frame) { return TicksAtFrame(rate, frame); }

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

// "ORDER" or "ORDER:ROW". A missing row is 0 for the start of a range and
// the end of the order for its end (whole order included).
inline bool ParsePosition(const std::string& text, bool rangeEnd, Position* position) {
  bool rowGiven = false;
  if (!ParseShowPosition(text.c_str(), position, &rowGiven)) return false;
  if (!rowGiven && rangeEnd) position->row = std::numeric_limits<int32_t>::max();
  return true;
}

}  // namespace capture
