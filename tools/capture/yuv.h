// The video's frames as the encoder takes them: a read-back picture of four
// bytes a pixel turned into the whole frame, bars included, as I420
// (BT.709, studio range, each chroma sample the mean of its 2x2 block).
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tools/capture/layout.h"

namespace capture {

namespace i420 {

// BT.709 in 2.14 fixed point (so that SSE2 multiplies 16-bit lanes),
// scaled from full-range 8-bit RGB to studio range:
// Y' = 16 + 219 E'y, Cb = 128 + 224 E'pb, Cr = 128 + 224 E'pr.
constexpr double kKr = 0.2126;
constexpr double kKb = 0.0722;
constexpr double kKg = 1.0 - kKr - kKb;
constexpr int kShift = 14;
constexpr int16_t Fixed(double v) { return static_cast<int16_t>(v * (1 << kShift) + (v < 0 ? -0.5 : 0.5)); }
constexpr int16_t kYr = Fixed(kKr * 219.0 / 255.0);
constexpr int16_t kYg = Fixed(kKg * 219.0 / 255.0);
constexpr int16_t kYb = Fixed(kKb * 219.0 / 255.0);
// Chroma from the sum of a block's four pixels: a quarter of each weight.
constexpr int16_t kUr = Fixed(-kKr / (2.0 * (1.0 - kKb)) * 224.0 / 255.0 / 4.0);
constexpr int16_t kUg = Fixed(-kKg / (2.0 * (1.0 - kKb)) * 224.0 / 255.0 / 4.0);
constexpr int16_t kUb = Fixed(0.5 * 224.0 / 255.0 / 4.0);
constexpr int16_t kVr = Fixed(0.5 * 224.0 / 255.0 / 4.0);
constexpr int16_t kVg = Fixed(-kKg / (2.0 * (1.0 - kKr)) * 224.0 / 255.0 / 4.0);
constexpr int16_t kVb = Fixed(-kKb / (2.0 * (1.0 - kKr)) * 224.0 / 255.0 / 4.0);
constexpr int32_t kYBias = (16 << kShift) + (1 << (kShift - 1));
constexpr int32_t kCBias = (128 << kShift) + (1 << (kShift - 1));

inline uint8_t Luma(int32_t r, int32_t g, int32_t b) {
  return static_cast<uint8_t>((kYr * r + kYg * g + kYb * b + kYBias) >> kShift);
}
// From the sums of a block's four pixels.
inline uint8_t Cb(int32_t r, int32_t g, int32_t b) {
  return static_cast<uint8_t>((kUr * r + kUg * g + kUb * b + kCBias) >> kShift);
}
inline uint8_t Cr(int32_t r, int32_t g, int32_t b) {
  return static_cast<uint8_t>((kVr * r + kVg * g + kVb * b + kCBias) >> kShift);
}

#if defined(__SSE2__)
// The four 32-bit sums of each group of four lanes of a, b, c, d.
inline __m128i SumFours(__m128i a, __m128i b, __m128i c, __m128i d) {
  auto pairs = [](__m128i x, __m128i y) {
    const __m128 fx = _mm_castsi128_ps(x);
    const __m128 fy = _mm_castsi128_ps(y);
    return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(fx, fy, _MM_SHUFFLE(2, 0, 2, 0))),
                         _mm_castps_si128(_mm_shuffle_ps(fx, fy, _MM_SHUFFLE(3, 1, 3, 1))));
  };
  return pairs(pairs(a, b), pairs(c, d));
}

// Four results of 32-bit lanes, biased and shifted, as four bytes.
inline uint32_t Bytes(__m128i sums, int32_t bias) {
  const __m128i v = _mm_srai_epi32(_mm_add_epi32(sums, _mm_set1_epi32(bias)), kShift);
  const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(v, v), _mm_setzero_si128());
  return static_cast<uint32_t>(_mm_cvtsi128_si32(packed));
}
#endif

// One frame; R at byte kR of each four-byte pixel, B at byte kB.
template <int kR, int kB>
void Convert(const uint8_t* pixels, const Layout& layout, uint8_t* out) {
  const int w = layout.width;
  const int h = layout.height;
  const int pw = layout.pictureWidth;
  const int ph = layout.pictureHeight;
  const int x0 = layout.left;
  const int x1 = layout.left + pw;
  const size_t stride = static_cast<size_t>(pw) * 4;
  // The picture's row at frame row y (y down), or null in the bars.
  auto row = [&](int y) -> const uint8_t* {
    const int py = y - layout.top;
    if (py < 0 || py >= ph) return nullptr;
    return pixels + static_cast<size_t>(ph - 1 - py) * stride;
  };
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  // Weights in the order of a pixel's bytes, the fourth (unused) 0.
  auto weights = [](int16_t r, int16_t g, int16_t b) {
    return kR == 0 ? _mm_setr_epi16(r, g, b, 0, r, g, b, 0) : _mm_setr_epi16(b, g, r, 0, b, g, r, 0);
  };
  const __m128i yw = weights(kYr, kYg, kYb);
  const __m128i uw = weights(kUr, kUg, kUb);
  const __m128i vw = weights(kVr, kVg, kVb);
#endif

  for (int y = 0; y < h; ++y) {
    uint8_t* dst = out + static_cast<size_t>(y) * static_cast<size_t>(w);
    const uint8_t* src = row(y);
    if (src == nullptr) {
      std::memset(dst, 16, static_cast<size_t>(w));
      continue;
    }
    std::memset(dst, 16, static_cast<size_t>(x0));
    std::memset(dst + x1, 16, static_cast<size_t>(w - x1));
    dst += x0;
    int x = 0;
#if defined(__SSE2__)
    for (; x + 4 <= pw; x += 4) {
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * x));
      const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(p, zero), yw);
      const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(p, zero), yw);
      // Each pixel's two partial sums added: pixels 0..3.
      const __m128 a = _mm_castsi128_ps(lo);
      const __m128 b = _mm_castsi128_ps(hi);
      const __m128i sums = _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                                         _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
      const uint32_t four = Bytes(sums, kYBias);
      std::memcpy(dst + x, &four, 4);
    }
#endif
    for (; x < pw; ++x) {
      const uint8_t* p = src + 4 * x;
      dst[x] = Luma(p[kR], p[1], p[kB]);
    }
  }

  // Chroma: blocks wholly inside the picture summed straight; the rest
  // (bars, and blocks the picture's edge cuts) pixel by pixel, black
  // outside the picture.
  const int cw = w / 2;
  uint8_t* uPlane = out + static_cast<size_t>(w) * static_cast<size_t>(h);
  uint8_t* vPlane = uPlane + static_cast<size_t>(cw) * static_cast<size_t>(h / 2);
  const int inner0 = (x0 + 1) / 2;  // first block whose two columns are inside
  const int inner1 = x1 / 2;        // one past the last
  for (int cy = 0; cy < h / 2; ++cy) {
    const uint8_t* top = row(2 * cy);
    const uint8_t* bottom = row(2 * cy + 1);
    uint8_t* u = uPlane + static_cast<size_t>(cy) * static_cast<size_t>(cw);
    uint8_t* v = vPlane + static_cast<size_t>(cy) * static_cast<size_t>(cw);
    auto edge = [&](int cx) {
      int32_t r = 0;
      int32_t g = 0;
      int32_t b = 0;
      for (const uint8_t* src : {top, bottom}) {
        if (src == nullptr) continue;
        for (int x = 2 * cx; x < 2 * cx + 2; ++x) {
          if (x < x0 || x >= x1) continue;
          const uint8_t* p = src + static_cast<size_t>(x - x0) * 4;
          r += p[kR];
          g += p[1];
          b += p[kB];
        }
      }
      u[cx] = Cb(r, g, b);
      v[cx] = Cr(r, g, b);
    };
    if (top == nullptr || bottom == nullptr) {
      for (int cx = 0; cx < cw; ++cx) edge(cx);
      continue;
    }
    for (int cx = 0; cx < inner0; ++cx) edge(cx);
    const uint8_t* a = top + static_cast<size_t>(2 * inner0 - x0) * 4;
    const uint8_t* c = bottom + static_cast<size_t>(2 * inner0 - x0) * 4;
    const int blocks = inner1 - inner0;
    int i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= blocks; i += 4) {
      // Eight pixels of each row: four blocks, summed down the columns.
      const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * i));
      const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * i + 16));
      const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8 * i));
      const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 8 * i + 16));
      const __m128i s0 = _mm_add_epi16(_mm_unpacklo_epi8(t0, zero), _mm_unpacklo_epi8(b0, zero));
      const __m128i s1 = _mm_add_epi16(_mm_unpackhi_epi8(t0, zero), _mm_unpackhi_epi8(b0, zero));
      const __m128i s2 = _mm_add_epi16(_mm_unpacklo_epi8(t1, zero), _mm_unpacklo_epi8(b1, zero));
      const __m128i s3 = _mm_add_epi16(_mm_unpackhi_epi8(t1, zero), _mm_unpackhi_epi8(b1, zero));
      const uint32_t us = Bytes(SumFours(_mm_madd_epi16(s0, uw), _mm_madd_epi16(s1, uw), _mm_madd_epi16(s2, uw),
                                         _mm_madd_epi16(s3, uw)),
                                kCBias);
      const uint32_t vs = Bytes(SumFours(_mm_madd_epi16(s0, vw), _mm_madd_epi16(s1, vw), _mm_madd_epi16(s2, vw),
                                         _mm_madd_epi16(s3, vw)),
                                kCBias);
      std::memcpy(u + inner0 + i, &us, 4);
      std::memcpy(v + inner0 + i, &vs, 4);
    }
#endif
    for (; i < blocks; ++i) {
      const uint8_t* p = a + 8 * i;
      const uint8_t* q = c + 8 * i;
      u[inner0 + i] = Cb(p[kR] + p[4 + kR] + q[kR] + q[4 + kR], p[1] + p[5] + q[1] + q[5],
                         p[kB] + p[4 + kB] + q[kB] + q[4 + kB]);
      v[inner0 + i] = Cr(p[kR] + p[4 + kR] + q[kR] + q[4 + kR], p[1] + p[5] + q[1] + q[5],
                         p[kB] + p[4 + kB] + q[kB] + q[4 + kB]);
    }
    for (int cx = inner1; cx < cw; ++cx) edge(cx);
  }
}

}  // namespace i420

// Bytes of a width by height I420 frame (both even).
inline size_t I420Bytes(int width, int height) {
  return static_cast<size_t>(width) * static_cast<size_t>(height) * 3 / 2;
}

// `pixels`: the layout's picture, rows bottom first, four bytes a pixel in
// the order B, G, R, unused (`bgr`) or R, G, B, unused. `out`: I420Bytes of
// the layout's frame, planes Y, U, V, rows top first.
inline void PictureToI420(const uint8_t* pixels, bool bgr, const Layout& layout, uint8_t* out) {
  if (bgr) {
    i420::Convert<2, 0>(pixels, layout, out);
  } else {
    i420::Convert<0, 2>(pixels, layout, out);
  }
}

}  // namespace capture
