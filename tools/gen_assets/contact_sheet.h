// A review sheet of every generated picture: each over a checkerboard with
// its mask applied and its file name below, plus the two meshes.
#pragma once

#include <string>
#include <vector>

#include "tools/gen_assets/art.h"
#include "tools/gen_assets/meshes.h"

namespace gen {

bool writeContactSheet(const std::string& path, const std::vector<Asset>& assets,
                       const std::vector<MeshData>& meshes);

}  // namespace gen
