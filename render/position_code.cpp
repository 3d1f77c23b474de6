// The position code strip: encoding, decoding and drawing.
#include "render/position_code.h"

#include "platform/gl.h"
#include "render/screen_quad.h"

bool g_drawPositionCode = false;

namespace {

constexpr uint8_t kFinder[4] = {1, 0, 1, 0};

// Every cell of the order and row changes one bit of the check, so a
// single misread cell never decodes.
int CheckBits(int order, int row) {
  return ((order >> 4) ^ order ^ (row >> 4) ^ row ^ 0x5) & 0xF;
}

}  // namespace

void EncodePositionCode(int order, int row, uint8_t cells[kPositionCodeCells]) {
  for (int i = 0; i < 4; ++i) cells[i] = kFinder[i];
  for (int bit = 0; bit < 8; ++bit) {
    cells[4 + bit] = static_cast<uint8_t>((order >> (7 - bit)) & 1);
    cells[12 + bit] = static_cast<uint8_t>((row >> (7 - bit)) & 1);
  }
  const int check = CheckBits(order, row);
  for (int bit = 0; bit < 4; ++bit) cells[20 + bit] = static_cast<uint8_t>((check >> (3 - bit)) & 1);
}

bool DecodePositionCode(const uint8_t cells[kPositionCodeCells], int* order, int* row) {
  for (int i = 0; i < 4; ++i) {
    if (cells[i] != kFinder[i]) return false;
  }
  int o = 0;
  int r = 0;
  int check = 0;
  for (int bit = 0; bit < 8; ++bit) {
    o = (o << 1) | (cells[4 + bit] & 1);
    r = (r << 1) | (cells[12 + bit] & 1);
  }
  for (int bit = 0; bit < 4; ++bit) check = (check << 1) | (cells[20 + bit] & 1);
  if (check != CheckBits(o, r)) return false;
  *order = o;
  *row = r;
  return true;
}

void DrawPositionCode(int order, int row) {
  uint8_t cells[kPositionCodeCells];
  EncodePositionCode(order, row, cells);
  GLint viewport[4];
  GLint scissor[4];
  GLfloat clearColor[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glGetIntegerv(GL_SCISSOR_BOX, scissor);
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColor);
  const GLboolean scissorTest = glIsEnabled(GL_SCISSOR_TEST);
  glEnable(GL_SCISSOR_TEST);
  // Cells keep their size relative to the picture: kPositionCodeCell on a
  // 640-pixel-wide viewport, more on a wider one (the capture's big frames).
  const GLint cell = kPositionCodeCell * viewport[2] / kScreenWidth;
  // Window coordinates have y up: the top row of cells lies just under the
  // viewport's top edge.
  const GLint top = viewport[1] + viewport[3] - cell;
  for (int i = 0; i < kPositionCodeCells; ++i) {
    const GLfloat level = cells[i] ? 1.0f : 0.0f;
    glScissor(viewport[0] + i * cell, top, cell, cell);
    glClearColor(level, level, level, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  glClearColor(clearColor[0], clearColor[1], clearColor[2], clearColor[3]);
  glScissor(scissor[0], scissor[1], scissor[2], scissor[3]);
  if (!scissorTest) glDisable(GL_SCISSOR_TEST);
}
