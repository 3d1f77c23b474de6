// Fuzzes the ".3d" mesh reader: the input is the file. It is read into a
// mesh of small capacity (arrays between AddressSanitizer's guards), twice
// so that a reload over earlier contents is covered, and into the two real
// meshes; after each load the counts and face indices must be in range.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_common.h"
#include "resources/mesh_loader.h"

namespace {

MeshVertex g_smallVertices[16];
MeshFace g_smallFaces[8];
Mesh g_small = {0, 0, 16, 8, g_smallVertices, g_smallFaces};

// Walks every face of the mesh (up to the capacity): the harness's own loop,
// kept out of coverage and comparison tracing, which would cost more than
// the load itself.
__attribute__((no_sanitize("coverage"))) void Check(const Mesh& mesh) {
  if (mesh.vertexCount < 0 || mesh.vertexCount > mesh.vertexCapacity) fuzz::Fail("vertex count out of range");
  if (mesh.faceCount < 0 || mesh.faceCount > mesh.faceCapacity) fuzz::Fail("face count out of range");
  for (int i = 0; i < mesh.faceCount; ++i) {
    const MeshFace& f = mesh.faces[i];
    if (f.a >= mesh.vertexCapacity || f.b >= mesh.vertexCapacity || f.c >= mesh.vertexCapacity) {
      fuzz::Fail("face index at or above the vertex capacity");
    }
  }
  // Touch every vertex a face can name, as the last scene's drawing does.
  volatile float sum = 0.0f;
  for (int i = 0; i < mesh.faceCount; ++i) {
    sum = sum + mesh.vertices[mesh.faces[i].a].x + mesh.vertices[mesh.faces[i].b].y +
          mesh.vertices[mesh.faces[i].c].z;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterWorkDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::WriteFile("input.3d", data, size);
  LoadMesh("input.3d", &g_small);
  Check(g_small);
  LoadMesh("input.3d", &g_small);
  Check(g_small);
  LoadMesh("input.3d", &g_chelMesh);
  Check(g_chelMesh);
  LoadMesh("input.3d", &g_zavodMesh);
  Check(g_zavodMesh);
  return 0;
}
