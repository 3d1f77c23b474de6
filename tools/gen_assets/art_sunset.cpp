// placeholder
#include "tools/gen_assets/art.h"
namespace gen {
std::vector<AssetDef> sunsetAssets() { return {}; }
}
