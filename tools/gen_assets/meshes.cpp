// Silhouette meshes: convex outline pieces in the model's x-z plane (z up),
// each fanned into triangles wound counter-clockwise as the closing scene's
// camera sees them, standing in a plane of constant model y.
#include "tools/gen_assets/meshes.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace gen {

namespace {

constexpr float kPi = 3.14159265f;

struct Builder {
  MeshData mesh;
  float depth = 0;  // model y of the plane being built
  float shiftX = 0;

  // A convex outline as x, z pairs, in either turning order.
  void convex(std::vector<float> pts) {
    const size_t n = pts.size() / 2;
    float area = 0;
    for (size_t i = 0, j = n - 1; i < n; j = i++) area += pts[2 * j] * pts[2 * i + 1] - pts[2 * i] * pts[2 * j + 1];
    if (area < 0) {
      std::vector<float> rev;
      for (size_t i = n; i-- > 0;) {
        rev.push_back(pts[2 * i]);
        rev.push_back(pts[2 * i + 1]);
      }
      pts.swap(rev);
    }
    const uint16_t base = static_cast<uint16_t>(mesh.xyz.size() / 3);
    for (size_t i = 0; i < n; ++i) {
      mesh.xyz.push_back(pts[2 * i] + shiftX);
      mesh.xyz.push_back(depth);
      mesh.xyz.push_back(pts[2 * i + 1]);
    }
    for (size_t i = 1; i + 1 < n; ++i) {
      mesh.faces.push_back(base);
      mesh.faces.push_back(static_cast<uint16_t>(base + i));
      mesh.faces.push_back(static_cast<uint16_t>(base + i + 1));
    }
  }
  void box(float x0, float z0, float x1, float z1) { convex({x0, z0, x1, z0, x1, z1, x0, z1}); }
  void ellipse(float cx, float cz, float rx, float rz, int segments) {
    std::vector<float> pts;
    for (int i = 0; i < segments; ++i) {
      const float a = 2 * kPi * i / segments;
      pts.push_back(cx + rx * std::cos(a));
      pts.push_back(cz + rz * std::sin(a));
    }
    convex(pts);
  }
  // A tapered stroke from a to b with round ends.
  void limb(float ax, float az, float bx, float bz, float ra, float rb) {
    const float dx = bx - ax, dz = bz - az, len = std::hypot(dx, dz);
    const float nx = -dz / len, nz = dx / len;
    convex({ax + nx * ra, az + nz * ra, bx + nx * rb, bz + nz * rb, bx - nx * rb, bz - nz * rb, ax - nx * ra, az - nz * ra});
    ellipse(ax, az, ra, ra, 10);
    ellipse(bx, bz, rb, rb, 10);
  }
};

}  // namespace

MeshData personMesh() {
  // A person about 300 units tall, standing on the ground with a lantern
  // in the right hand. The scene moves the file's vertices by -100 in x and
  // -3 in z, so the outline is built 100 right of and 3 above its place.
  Builder b;
  b.mesh.name = "chel.3d";
  b.depth = 500;
  b.shiftX = -400 + 100;
  const float g = 499 + 3;  // soles a unit into the ground after the shift
  auto Z = [g](float h) { return g + h; };
  // Shoes and legs.
  b.convex({-30, Z(0), -4, Z(0), -6, Z(12), -26, Z(12)});
  b.convex({4, Z(0), 30, Z(0), 26, Z(12), 6, Z(12)});
  b.convex({-24, Z(10), -6, Z(10), -4, Z(122), -27, Z(122)});
  b.convex({6, Z(10), 24, Z(10), 27, Z(122), 4, Z(122)});
  // Coat: skirt, then chest and shoulders.
  b.convex({-37, Z(112), 37, Z(112), 31, Z(172), -31, Z(172)});
  b.convex({-31, Z(170), 31, Z(170), 40, Z(236), 33, Z(250), -33, Z(250), -40, Z(236)});
  // Neck, head and a flat cap.
  b.box(-8, Z(246), 8, Z(262));
  b.ellipse(0, Z(276), 16, 20, 16);
  b.convex({-18, Z(284), 18, Z(284), 14, Z(298), -12, Z(299), -18, Z(292)});
  b.convex({8, Z(282), 28, Z(281), 27, Z(286), 8, Z(287)});  // peak
  // Left arm hanging, right arm holding the lantern out a little.
  b.limb(-36, Z(236), -45, Z(180), 10, 8.5f);
  b.limb(-45, Z(180), -43, Z(132), 8.5f, 7);
  b.ellipse(-43, Z(124), 7.5f, 9, 10);
  b.limb(36, Z(236), 48, Z(186), 10, 8.5f);
  b.limb(48, Z(186), 64, Z(150), 8.5f, 7);
  b.ellipse(66, Z(146), 7.5f, 7.5f, 10);
  // The lantern: bail, cap, glass box, base.
  b.box(65, Z(128), 68, Z(144));
  b.convex({56, Z(122), 78, Z(122), 72, Z(130), 62, Z(130)});
  b.box(58, Z(94), 76, Z(122));
  b.convex({55, Z(88), 79, Z(88), 76, Z(94), 58, Z(94)});
  return b.mesh;
}

MeshData factoryMesh() {
  // A works on the far side of the field: a saw-tooth hall, a gabled hall,
  // three chimneys, a water tower, a gas holder and sheds, standing in
  // planes between model y 1500 and 2000 (the ground is model z 500).
  Builder b;
  b.mesh.name = "zavod.3d";
  const float g = 498;
  // Far plane: the left chimney, gas holder.
  b.depth = 2000;
  auto chimney = [&](float x, float top, float wBase, float wTop) {
    b.convex({x - wBase, g, x + wBase, g, x + wTop, top, x - wTop, top});
    for (float band : {0.55f, 0.78f, 0.97f}) {
      const float z = g + (top - g) * band;
      const float w = wBase + (wTop - wBase) * band + 5;
      b.box(x - w, z - 8, x + w, z + 8);
    }
  };
  chimney(-1050, 1420, 40, 26);
  b.box(980, g, 1240, 760);
  b.ellipse(1110, 760, 130, 26, 16);
  for (int i = 0; i < 5; ++i) b.box(978 + 65.0f * i, g, 986 + 65.0f * i, 790);
  b.box(970, 782, 1250, 790);
  // Middle plane: gabled hall, two chimneys, water tower.
  b.depth = 1750;
  b.box(-260, g, 520, 860);
  b.convex({-280, 860, 540, 860, 130, 980});
  b.box(60, 980, 200, 1010);  // roof lantern
  chimney(200, 1560, 46, 30);
  chimney(390, 1380, 38, 25);
  // Water tower on lattice legs.
  const float tx = 720;
  b.limb(tx - 60, g + 6, tx - 40, 860, 6, 5);
  b.limb(tx + 60, g + 6, tx + 40, 860, 6, 5);
  b.limb(tx - 55, 560, tx + 45, 760, 3, 3);
  b.limb(tx + 55, 560, tx - 45, 760, 3, 3);
  b.box(tx - 58, 700, tx + 58, 708);
  b.box(tx - 70, 860, tx + 70, 960);
  b.convex({tx - 76, 960, tx + 76, 960, tx, 1010});
  // Near plane: saw-tooth hall, pipe bridge, sheds.
  b.depth = 1500;
  b.box(-1700, g, -300, 760);
  for (int i = 0; i < 10; ++i) {
    const float x0 = -1700 + 140.0f * i;
    b.convex({x0, 760, x0 + 140, 760, x0 + 140, 830});
  }
  b.box(-300, 640, 200, 662);
  for (float x : {-160.0f, 40.0f}) b.box(x - 5, g, x + 5, 640);
  b.box(-1980, g, -1760, 620);
  b.convex({-1995, 620, -1745, 620, -1870, 700});
  b.box(560, g, 900, 640);
  b.convex({550, 640, 910, 640, 910, 680, 560, 700});
  return b.mesh;
}

bool writeMesh(const std::string& dir, const MeshData& m) {
  std::vector<unsigned char> bytes;
  auto u16 = [&](uint16_t v) {
    bytes.push_back(static_cast<unsigned char>(v & 255));
    bytes.push_back(static_cast<unsigned char>(v >> 8));
  };
  auto f32 = [&](float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>((bits >> (8 * i)) & 255));
  };
  u16(static_cast<uint16_t>(m.xyz.size() / 3));
  for (float f : m.xyz) f32(f);
  u16(static_cast<uint16_t>(m.faces.size() / 3));
  for (size_t i = 0; i < m.faces.size(); i += 3) {
    u16(m.faces[i]);
    u16(m.faces[i + 1]);
    u16(m.faces[i + 2]);
    u16(0);
  }
  FILE* f = std::fopen((dir + "/" + m.name).c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace gen
