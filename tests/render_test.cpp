// Screen quads and the loading screen, rendered on the offscreen context.
#include <GL/gl.h>

#include "render/render_state.h"
#include "render/screen_quad.h"
#include "tests/support/gl_harness.h"

using harness::ReadPixel;

namespace {

class RenderTest : public harness::GlTest {};

TEST_F(RenderTest, LoadingScreenCoversItsRectangleOnly) {
  harness::ScratchDir dir;
  harness::WriteTga("loading.tga", 512, 128, [](int, int) { return harness::Rgb{200, 100, 50}; });
  InitRenderState();
  for (int y : {175, 176, 303, 304}) {
    for (int x : {83, 84, 595, 596}) {
      const bool inside = x >= 84 && x <= 595 && y >= 176 && y <= 303;
      const harness::Rgba p = ReadPixel(x, y);
      EXPECT_EQ(p.r, inside ? 200 : 0) << x << "," << y;
      EXPECT_EQ(p.g, inside ? 100 : 0) << x << "," << y;
      EXPECT_EQ(p.b, inside ? 50 : 0) << x << "," << y;
    }
  }
}

}  // namespace
