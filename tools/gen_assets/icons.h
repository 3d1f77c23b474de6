// The program's icon for desktop menus: the lantern of the opening scene
// glowing on a dusk-coloured rounded square, as PNG in the hicolor sizes.
#pragma once

#include <string>
#include <vector>

namespace gen {

// The sizes written, in pixels (square).
const std::vector<int>& iconSizes();

// Writes DIR/hicolor/NxN/apps/lantern.png for every size; false when a
// file cannot be written.
bool writeIcons(const std::string& dir);

}  // namespace gen
