// The program's icon: the lantern of the opening scene glowing on a
// dusk-coloured rounded square, as PNG in the hicolor sizes for desktop
// menus, as the web page's home-screen icons for phones, and as one
// Windows .ico for the Windows program's resources.
#pragma once

#include <string>
#include <vector>

namespace gen {

// The sizes written, in pixels (square): the PNG files, and the images in
// the .ico.
const std::vector<int>& iconSizes();
const std::vector<int>& windowsIconSizes();

// A home-screen icon of the web page. Phones cut their own outline out of
// it and fill transparent corners with black or white, so theirs fill the
// square: the lantern as large as on the desktop (iPhone), or inside the
// central circle that Android's masks keep whole ("maskable").
enum class IconShape { kRoundedSquare, kFullSquare, kMaskable };
struct WebIcon {
  const char* name;
  int size;
  IconShape shape;
};
const std::vector<WebIcon>& webIcons();

// Writes DIR/hicolor/NxN/apps/lantern.png for every size, DIR/web/NAME for
// every web icon and DIR/lantern.ico with every Windows size; false when a
// file cannot be written.
bool writeIcons(const std::string& dir);

}  // namespace gen
