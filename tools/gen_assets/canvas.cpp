// Shape distances, blurs, colour ramps and the Targa writer of the asset generator.
#include "tools/gen_assets/canvas.h"

#include <cstdio>

namespace gen {

Rgb ramp(const std::vector<Rgb>& stops, float t) {
  if (stops.size() == 1) return stops[0];
  const float f = clamp01(t) * static_cast<float>(stops.size() - 1);
  const size_t i = std::min(static_cast<size_t>(f), stops.size() - 2);
  return mix(stops[i], stops[i + 1], f - static_cast<float>(i));
}

float Field::sample(float x, float y) const {
  x -= 0.5f;
  y -= 0.5f;
  x = std::clamp(x, 0.0f, static_cast<float>(w - 1));
  y = std::clamp(y, 0.0f, static_cast<float>(h - 1));
  const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
  const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
  const float fx = x - x0, fy = y - y0;
  return lerp(lerp(at(x0, y0), at(x1, y0), fx), lerp(at(x0, y1), at(x1, y1), fx), fy);
}

namespace {

// One box pass of width 2r+1 along a line of n values with stride.
void boxLine(float* data, int n, int stride, int r, bool wrap, std::vector<float>& tmp) {
  tmp.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) tmp[static_cast<size_t>(i)] = data[static_cast<size_t>(i) * stride];
  auto get = [&](int i) {
    if (wrap) i = ((i % n) + n) % n;
    else i = std::clamp(i, 0, n - 1);
    return tmp[static_cast<size_t>(i)];
  };
  double sum = 0;
  for (int i = -r; i <= r; ++i) sum += get(i);
  const float inv = 1.0f / static_cast<float>(2 * r + 1);
  for (int i = 0; i < n; ++i) {
    data[static_cast<size_t>(i) * stride] = static_cast<float>(sum) * inv;
    sum += get(i + r + 1) - get(i - r);
  }
}

void blurChannel(float* data, int w, int h, int stride, float radius, bool wrap) {
  // Three box passes of this half-width give roughly a Gaussian of sigma ~ radius.
  const int r = std::max(1, static_cast<int>(std::lround(radius * 0.9f)));
  std::vector<float> tmp;
  for (int pass = 0; pass < 3; ++pass) {
    for (int y = 0; y < h; ++y) boxLine(data + static_cast<size_t>(y) * w * stride, w, stride, r, wrap, tmp);
    for (int x = 0; x < w; ++x) boxLine(data + static_cast<size_t>(x) * stride, h, w * stride, r, wrap, tmp);
  }
}

}  // namespace

void blur(Field& f, float radius, bool wrap) {
  if (radius <= 0) return;
  blurChannel(f.v.data(), f.w, f.h, 1, radius, wrap);
}

void blur(Picture& p, float radius, bool wrap) {
  if (radius <= 0) return;
  float* base = &p.px[0].r;
  for (int c = 0; c < 3; ++c) blurChannel(base + c, p.w, p.h, 3, radius, wrap);
  blurChannel(p.a.data(), p.w, p.h, 1, radius, wrap);
}

float sdBox(float x, float y, float cx, float cy, float hw, float hh, float round) {
  const float qx = std::fabs(x - cx) - hw + round, qy = std::fabs(y - cy) - hh + round;
  const float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
  return std::hypot(ox, oy) + std::min(std::max(qx, qy), 0.0f) - round;
}

float sdSegment(float x, float y, float ax, float ay, float bx, float by, float r) {
  const float px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
  const float len2 = dx * dx + dy * dy;
  const float t = len2 > 0 ? clamp01((px * dx + py * dy) / len2) : 0.0f;
  return std::hypot(px - dx * t, py - dy * t) - r;
}

float sdTaper(float x, float y, float ax, float ay, float bx, float by, float ra, float rb) {
  const float px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
  const float len2 = dx * dx + dy * dy;
  const float t = len2 > 0 ? clamp01((px * dx + py * dy) / len2) : 0.0f;
  return std::hypot(px - dx * t, py - dy * t) - lerp(ra, rb, t);
}

float sdEllipse(float x, float y, float cx, float cy, float rx, float ry) {
  // Scaled-circle distance, corrected by the gradient length: good near the edge.
  const float dx = (x - cx) / rx, dy = (y - cy) / ry;
  const float k = std::sqrt(dx * dx + dy * dy);
  const float gx = dx / rx, gy = dy / ry;
  const float g = std::sqrt(gx * gx + gy * gy);
  if (k < 1e-6f) return -std::min(rx, ry);
  return (k - 1.0f) * k / std::max(g, 1e-6f);
}

float sdPolygon(float x, float y, const std::vector<float>& pts) {
  const size_t n = pts.size() / 2;
  float d = 1e30f;
  float s = 1.0f;
  for (size_t i = 0, j = n - 1; i < n; j = i, ++i) {
    const float vix = pts[2 * i], viy = pts[2 * i + 1], vjx = pts[2 * j], vjy = pts[2 * j + 1];
    const float ex = vjx - vix, ey = vjy - viy, wx = x - vix, wy = y - viy;
    const float t = clamp01((wx * ex + wy * ey) / (ex * ex + ey * ey));
    const float bx = wx - ex * t, by = wy - ey * t;
    d = std::min(d, bx * bx + by * by);
    const bool c1 = y >= viy, c2 = y < vjy, c3 = ex * wy > ey * wx;
    if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) s = -s;
  }
  return s * std::sqrt(d);
}

namespace {

void header(unsigned char* h, int type, int w, int height, int bits) {
  for (int i = 0; i < 18; ++i) h[i] = 0;
  h[2] = static_cast<unsigned char>(type);
  h[12] = static_cast<unsigned char>(w & 255);
  h[13] = static_cast<unsigned char>(w >> 8);
  h[14] = static_cast<unsigned char>(height & 255);
  h[15] = static_cast<unsigned char>(height >> 8);
  h[16] = static_cast<unsigned char>(bits);
  h[17] = 0;  // bottom-left origin, no alpha bits
}

bool writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

bool writeTga(const std::string& dir, const Picture& p) {
  std::vector<unsigned char> bytes(18 + static_cast<size_t>(p.w) * p.h * 3);
  header(bytes.data(), 2, p.w, p.h, 24);
  size_t o = 18;
  for (int row = 0; row < p.h; ++row) {
    const int y = p.h - 1 - row;
    for (int x = 0; x < p.w; ++x) {
      const Rgb& c = p.at(x, y);
      bytes[o++] = toByte(c.b);
      bytes[o++] = toByte(c.g);
      bytes[o++] = toByte(c.r);
    }
  }
  if (!writeFile(dir + "/" + p.name, bytes)) return false;
  if (!p.masked) return true;
  Field m(p.w, p.h);
  m.v = p.a;
  return writeMaskTga(dir + "/mask-" + p.name, m);
}

bool writeMaskTga(const std::string& path, const Field& mask) {
  std::vector<unsigned char> bytes(18 + static_cast<size_t>(mask.w) * mask.h);
  header(bytes.data(), 3, mask.w, mask.h, 8);
  size_t o = 18;
  for (int row = 0; row < mask.h; ++row) {
    const int y = mask.h - 1 - row;
    for (int x = 0; x < mask.w; ++x) bytes[o++] = toByte(mask.at(x, y));
  }
  return writeFile(path, bytes);
}

}  // namespace gen
