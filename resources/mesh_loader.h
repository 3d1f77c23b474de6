// Triangle meshes in the program's ".3d" format, read into fixed-capacity
// static storage.
//
// File format, little-endian, no header or padding:
//   u16 NV; NV x (f32 x, y, z); u16 NF; NF x (u16 a, b, c, d).
// Each face is the triangle a, b, c (counter-clockwise is the front); d is unused.
#pragma once

#include <cstdint>

struct MeshVertex {
  float x;
  float y;
  float z;
};

struct MeshFace {
  uint16_t a;
  uint16_t b;
  uint16_t c;
  uint16_t d;
};

// A mesh and the static arrays that hold it. Elements beyond the counts keep
// what they held before (zero at program start).
struct Mesh {
  int vertexCount;
  int faceCount;
  int vertexCapacity;
  int faceCapacity;
  MeshVertex* vertices;
  MeshFace* faces;
};

constexpr int kChelVertexCapacity = 8000;
constexpr int kChelFaceCapacity = 3000;
constexpr int kZavodVertexCapacity = 10000;
constexpr int kZavodFaceCapacity = 10000;

// The two silhouettes of the last scene ("chel.3d" and "zavod.3d"). Main thread only.
extern Mesh g_chelMesh;
extern Mesh g_zavodMesh;

// Reads fileName into mesh. Never writes past a capacity: counts above it
// are read up to it, faces naming a vertex at or above the vertex capacity
// are dropped, a missing file leaves the mesh empty; each is reported on
// stderr. A file that ends early is reported too: what it does not hold,
// counts included, keeps the contents of the earlier load.
void LoadMesh(const char* fileName, Mesh* mesh);
