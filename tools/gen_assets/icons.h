// The program's icon: the lantern of the opening scene glowing on a
// dusk-coloured rounded square, as PNG in the hicolor sizes for desktop
// menus and as one Windows .ico for the Windows program's resources.
#pragma once

#include <string>
#include <vector>

namespace gen {

// The sizes written, in pixels (square): the PNG files, and the images in
// the .ico.
const std::vector<int>& iconSizes();
const std::vector<int>& windowsIconSizes();

// Writes DIR/hicolor/NxN/apps/lantern.png for every size and DIR/lantern.ico
// with every Windows size; false when a file cannot be written.
bool writeIcons(const std::string& dir);

}  // namespace gen
