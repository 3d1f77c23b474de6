// The ".3d" mesh reader: block layout, counts at and beyond the capacities,
// faces naming vertices out of range, reloads and damaged files. Meshes with
// small capacities sit between guard elements that must never change.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resources/mesh_loader.h"
#include "tests/support/gl_harness.h"

namespace {

struct FileFace {
  uint16_t a, b, c, d;
};

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void PutFloat(std::vector<uint8_t>& out, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

// A ".3d" file: the counts as declared (which may exceed the records given).
std::vector<uint8_t> MeshFile(uint32_t nv, const std::vector<MeshVertex>& vertices, uint32_t nf,
                              const std::vector<FileFace>& faces) {
  std::vector<uint8_t> out;
  Put16(out, nv);
  for (const MeshVertex& v : vertices) {
    PutFloat(out, v.x);
    PutFloat(out, v.y);
    PutFloat(out, v.z);
  }
  Put16(out, nf);
  for (const FileFace& f : faces) {
    Put16(out, f.a);
    Put16(out, f.b);
    Put16(out, f.c);
    Put16(out, f.d);
  }
  return out;
}

std::vector<MeshVertex> Vertices(int n, float base = 0.0f) {
  std::vector<MeshVertex> v;
  for (int i = 0; i < n; ++i) v.push_back({base + i, base + i * 2.0f + 0.5f, -base - i * 3.0f});
  return v;
}

constexpr int kGuard = 8;
constexpr float kGuardValue = 1234.5f;
constexpr uint16_t kGuardIndex = 0xBEEF;

// A mesh of small capacity with guard elements on both sides of each array.
struct GuardedMesh {
  MeshVertex vertexStore[kGuard + 4 + kGuard];
  MeshFace faceStore[kGuard + 3 + kGuard];
  Mesh mesh;

  GuardedMesh() {
    for (MeshVertex& v : vertexStore) v = {kGuardValue, kGuardValue, kGuardValue};
    for (MeshFace& f : faceStore) f = {kGuardIndex, kGuardIndex, kGuardIndex, kGuardIndex};
    for (int i = 0; i < 4; ++i) vertexStore[kGuard + i] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) faceStore[kGuard + i] = {0, 0, 0, 0};
    mesh = Mesh{0, 0, 4, 3, vertexStore + kGuard, faceStore + kGuard};
  }

  ::testing::AssertionResult GuardsIntact() const {
    for (int i = 0; i < kGuard; ++i) {
      for (const MeshVertex& v : {vertexStore[i], vertexStore[kGuard + 4 + i]}) {
        if (v.x != kGuardValue || v.y != kGuardValue || v.z != kGuardValue) {
          return ::testing::AssertionFailure() << "a vertex guard was overwritten";
        }
      }
      for (const MeshFace& f : {faceStore[i], faceStore[kGuard + 3 + i]}) {
        if (f.a != kGuardIndex || f.b != kGuardIndex || f.c != kGuardIndex || f.d != kGuardIndex) {
          return ::testing::AssertionFailure() << "a face guard was overwritten";
        }
      }
    }
    return ::testing::AssertionSuccess();
  }
};

void ExpectVertex(const MeshVertex& v, const MeshVertex& want) {
  EXPECT_EQ(v.x, want.x);
  EXPECT_EQ(v.y, want.y);
  EXPECT_EQ(v.z, want.z);
}

void ExpectFace(const MeshFace& f, FileFace want) {
  EXPECT_EQ(f.a, want.a);
  EXPECT_EQ(f.b, want.b);
  EXPECT_EQ(f.c, want.c);
  EXPECT_EQ(f.d, want.d);
}

class MeshLoaderTest : public ::testing::Test {
 protected:
  harness::ScratchDir dir_;
};

TEST_F(MeshLoaderTest, ReadsBothBlocksInFileOrderWithTheFourthWordAsIs) {
  const std::vector<MeshVertex> v = Vertices(3, 0.25f);
  const std::vector<FileFace> f = {{0, 1, 2, 0xFFFF}, {2, 1, 0, 7}};
  harness::WriteBytes("chel.3d", MeshFile(3, v, 2, f));
  harness::StderrCapture capture;
  LoadMesh("chel.3d", &g_chelMesh);
  EXPECT_EQ(capture.Text(), "");
  EXPECT_EQ(g_chelMesh.vertexCount, 3);
  EXPECT_EQ(g_chelMesh.faceCount, 2);
  EXPECT_EQ(g_chelMesh.vertexCapacity, 8000);
  EXPECT_EQ(g_chelMesh.faceCapacity, 3000);
  EXPECT_EQ(g_zavodMesh.vertexCapacity, 10000);
  EXPECT_EQ(g_zavodMesh.faceCapacity, 10000);
  for (int i = 0; i < 3; ++i) ExpectVertex(g_chelMesh.vertices[i], v[i]);
  ExpectFace(g_chelMesh.faces[0], f[0]);
  ExpectFace(g_chelMesh.faces[1], f[1]);
}

TEST_F(MeshLoaderTest, EmptyBlocksAndTrailingBytes) {
  GuardedMesh g;
  // No vertices: the face count follows at offset 2.
  harness::WriteBytes("nov.3d", MeshFile(0, {}, 2, {{0, 0, 0, 0}, {1, 2, 3, 4}}));
  LoadMesh("nov.3d", &g.mesh);
  EXPECT_EQ(g.mesh.vertexCount, 0);
  EXPECT_EQ(g.mesh.faceCount, 2);
  ExpectFace(g.mesh.faces[1], {1, 2, 3, 4});

  // No faces.
  harness::WriteBytes("nof.3d", MeshFile(4, Vertices(4), 0, {}));
  LoadMesh("nof.3d", &g.mesh);
  EXPECT_EQ(g.mesh.vertexCount, 4);
  EXPECT_EQ(g.mesh.faceCount, 0);

  // Bytes after the last face change nothing, and are not reported.
  std::vector<uint8_t> bytes = MeshFile(2, Vertices(2, 9.0f), 1, {{0, 1, 1, 0}});
  bytes.insert(bytes.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00});
  harness::WriteBytes("trail.3d", bytes);
  harness::StderrCapture capture;
  LoadMesh("trail.3d", &g.mesh);
  EXPECT_EQ(capture.Text(), "");
  EXPECT_EQ(g.mesh.vertexCount, 2);
  EXPECT_EQ(g.mesh.faceCount, 1);
  ExpectVertex(g.mesh.vertices[1], Vertices(2, 9.0f)[1]);
  ExpectFace(g.mesh.faces[0], {0, 1, 1, 0});
  EXPECT_TRUE(g.GuardsIntact());
}

TEST_F(MeshLoaderTest, CountsBeyondTheCapacityAreReadUpToItAndReported) {
  // 0xFFFF is 65535 (unsigned): far beyond every capacity. The file holds
  // them all; the reader must skip the extra vertices to find the face count.
  GuardedMesh g;
  std::vector<FileFace> faces;
  for (int i = 0; i < 0xFFFF; ++i) faces.push_back({static_cast<uint16_t>(i % 4), 1, 2, static_cast<uint16_t>(i)});
  harness::WriteBytes("huge.3d", MeshFile(0xFFFF, Vertices(0xFFFF), 0xFFFF, faces));
  harness::StderrCapture capture;
  LoadMesh("huge.3d", &g.mesh);
  const std::string text = capture.Text();
  EXPECT_NE(text.find("65535 vertices"), std::string::npos) << text;
  EXPECT_NE(text.find("65535 faces"), std::string::npos) << text;
  EXPECT_EQ(g.mesh.vertexCount, 4);
  EXPECT_EQ(g.mesh.faceCount, 3);
  ExpectVertex(g.mesh.vertices[3], Vertices(4)[3]);
  ExpectFace(g.mesh.faces[2], {2, 1, 2, 2});
  EXPECT_TRUE(g.GuardsIntact());

  // The same at the real capacities.
  LoadMesh("huge.3d", &g_zavodMesh);
  EXPECT_EQ(g_zavodMesh.vertexCount, 10000);
  EXPECT_EQ(g_zavodMesh.faceCount, 10000);
  ExpectVertex(g_zavodMesh.vertices[9999], Vertices(10000)[9999]);
  ExpectFace(g_zavodMesh.faces[9999], faces[9999]);
}

TEST_F(MeshLoaderTest, FacesNamingVerticesBeyondTheCapacityAreDropped) {
  GuardedMesh g;
  // Capacity 4, two vertices in the file: index 3 names an element the file
  // did not fill but which exists, so it stays; 4 and 0xFFFF are dropped.
  harness::WriteBytes("bad.3d", MeshFile(2, Vertices(2), 3, {{0, 1, 4, 0}, {0, 3, 1, 9}, {0xFFFF, 0, 1, 0}}));
  harness::StderrCapture capture;
  LoadMesh("bad.3d", &g.mesh);
  const std::string text = capture.Text();
  EXPECT_NE(text.find("\"bad.3d\""), std::string::npos) << text;
  EXPECT_NE(text.find("2 faces"), std::string::npos) << text;
  EXPECT_EQ(g.mesh.faceCount, 1);
  ExpectFace(g.mesh.faces[0], {0, 3, 1, 9});
  for (int i = 0; i < g.mesh.faceCount; ++i) {
    EXPECT_LT(g.mesh.faces[i].a, g.mesh.vertexCapacity);
    EXPECT_LT(g.mesh.faces[i].b, g.mesh.vertexCapacity);
    EXPECT_LT(g.mesh.faces[i].c, g.mesh.vertexCapacity);
  }
  EXPECT_TRUE(g.GuardsIntact());
}

TEST_F(MeshLoaderTest, SecondLoadOverABiggerFirstKeepsTheElementsBeyondTheNewCounts) {
  GuardedMesh g;
  harness::WriteBytes("big.3d", MeshFile(4, Vertices(4, 1.0f), 3, {{0, 1, 2, 0}, {1, 2, 3, 0}, {3, 2, 1, 0}}));
  harness::WriteBytes("small.3d", MeshFile(1, Vertices(1, 50.0f), 1, {{0, 0, 0, 5}}));
  LoadMesh("big.3d", &g.mesh);
  LoadMesh("small.3d", &g.mesh);
  EXPECT_EQ(g.mesh.vertexCount, 1);
  EXPECT_EQ(g.mesh.faceCount, 1);
  ExpectVertex(g.mesh.vertices[0], Vertices(1, 50.0f)[0]);
  ExpectVertex(g.mesh.vertices[3], Vertices(4, 1.0f)[3]);
  ExpectFace(g.mesh.faces[0], {0, 0, 0, 5});
  ExpectFace(g.mesh.faces[2], {3, 2, 1, 0});
  EXPECT_TRUE(g.GuardsIntact());
}

TEST_F(MeshLoaderTest, MissingAndShortFiles) {
  GuardedMesh g;
  harness::WriteBytes("big.3d", MeshFile(4, Vertices(4, 1.0f), 3, {{0, 1, 2, 0}, {1, 2, 3, 0}, {3, 2, 1, 0}}));
  LoadMesh("big.3d", &g.mesh);

  // A missing file leaves the mesh empty and names the file.
  {
    harness::StderrCapture capture;
    LoadMesh("absent.3d", &g.mesh);
    EXPECT_NE(capture.Text().find("\"absent.3d\""), std::string::npos);
    EXPECT_EQ(g.mesh.vertexCount, 0);
    EXPECT_EQ(g.mesh.faceCount, 0);
  }

  // Ending inside the vertex block: the declared count stands, the vertices
  // not read keep their earlier contents, and so does the face count the
  // file never reached.
  LoadMesh("big.3d", &g.mesh);
  {
    std::vector<uint8_t> bytes = MeshFile(4, Vertices(2, 70.0f), 0, {});
    bytes.resize(2 + 2 * 12 + 5);  // two vertices and part of a third
    harness::WriteBytes("cut.3d", bytes);
    harness::StderrCapture capture;
    LoadMesh("cut.3d", &g.mesh);
    EXPECT_NE(capture.Text().find("\"cut.3d\""), std::string::npos);
    EXPECT_EQ(g.mesh.vertexCount, 4);
    EXPECT_EQ(g.mesh.faceCount, 3);
    ExpectVertex(g.mesh.vertices[1], Vertices(2, 70.0f)[1]);
    ExpectVertex(g.mesh.vertices[3], Vertices(4, 1.0f)[3]);
    ExpectFace(g.mesh.faces[1], {1, 2, 3, 0});
  }

  // Ending inside the face block: the faces not read keep their contents.
  {
    std::vector<uint8_t> bytes = MeshFile(1, Vertices(1), 3, {{0, 0, 0, 1}});
    harness::WriteBytes("cutf.3d", bytes);
    harness::StderrCapture capture;
    LoadMesh("cutf.3d", &g.mesh);
    EXPECT_NE(capture.Text().find("\"cutf.3d\""), std::string::npos);
    EXPECT_EQ(g.mesh.vertexCount, 1);
    EXPECT_EQ(g.mesh.faceCount, 3);
    ExpectFace(g.mesh.faces[0], {0, 0, 0, 1});
    ExpectFace(g.mesh.faces[2], {3, 2, 1, 0});
  }

  // An empty file: nothing is read, nothing changes, and it is reported.
  {
    harness::WriteBytes("empty.3d", {});
    harness::StderrCapture capture;
    LoadMesh("empty.3d", &g.mesh);
    EXPECT_NE(capture.Text().find("\"empty.3d\""), std::string::npos);
    EXPECT_EQ(g.mesh.vertexCount, 1);
    EXPECT_EQ(g.mesh.faceCount, 3);
  }
  EXPECT_TRUE(g.GuardsIntact());
}

}  // namespace
