// The position code: an optional strip of black and white cells along the
// frame's top-left edge that spells the music order and row the frame was
// drawn with, so that a recording of the screen tells which position each
// shown frame stands for (the sync measurement reads it back).
#pragma once

#include <cstdint>

// Draw the strip at the end of every frame. Off unless asked for
// (LANTERN_POSITION_CODE, the capture's --position-code, the page's
// ?positioncode=1). Main thread only.
extern bool g_drawPositionCode;

// Cells are square, kPositionCodeCell pixels wide on a 640-pixel-wide
// viewport (in proportion on any other), in one row of
// kPositionCodeCells from the frame's top-left corner: a finder of four
// cells (white, black, white, black), the order's low 8 bits and the row's
// low 8 bits (most significant first), then a 4-bit check of both (the
// exclusive or of their four nibbles).
constexpr int kPositionCodeCell = 8;
constexpr int kPositionCodeCells = 24;

// The cells for a position: 1 white, 0 black.
void EncodePositionCode(int order, int row, uint8_t cells[kPositionCodeCells]);

// The order and row spelled by cells read back; false when the finder or
// the check does not hold (no strip there, or a torn read).
bool DecodePositionCode(const uint8_t cells[kPositionCodeCells], int* order, int* row);

// Draws the strip for a position into the current viewport's top-left
// corner with scissored clears; every GL state it touches (scissor box and
// test, clear colour) is put back, since the scenes rely on what they left.
void DrawPositionCode(int order, int row);
