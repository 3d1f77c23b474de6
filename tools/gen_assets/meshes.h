// The two silhouette meshes of the closing scene, built from flat outlines
// and written in the program's ".3d" format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gen {

struct MeshData {
  std::string name;
  std::vector<float> xyz;        // 3 floats per vertex
  std::vector<uint16_t> faces;   // 3 indices per triangle
};

// "chel.3d": a person standing with a lantern; "zavod.3d": a factory with
// chimneys and sheds. Model z points up, model z 500 is the ground.
MeshData personMesh();
MeshData factoryMesh();

// Little-endian u16 NV, NV x f32 xyz, u16 NF, NF x u16 (a, b, c, 0).
bool writeMesh(const std::string& dir, const MeshData& m);

}  // namespace gen
