// Writes the song as a plain FastTracker 2 module (.xm), the reference
// against which the MO3 container is checked.
#include <cstring>

#include "tools/gen_music/song.h"

namespace music {
namespace {

struct Out {
  std::vector<uint8_t> b;
  void u8(unsigned v) { b.push_back(uint8_t(v)); }
  void u16(unsigned v) { u8(v & 0xFF); u8((v >> 8) & 0xFF); }
  void u32(uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
  void text(const std::string &s, size_t n, char pad = 0) {
    for (size_t i = 0; i < n; ++i) u8(i < s.size() ? uint8_t(s[i]) : uint8_t(pad));
  }
};

}  // namespace

std::vector<uint8_t> WriteXM(const Song &song) {
  Out o;
  o.text("Extended Module: ", 17);
  o.text(song.name, 20);
  o.u8(0x1A);
  // A tracker name other than FT2's keeps the player from switching to FT2 mix levels.
  o.text("lantern gen-music", 20, ' ');
  o.u16(0x0104);
  o.u32(276);
  o.u16(unsigned(song.orders.size()));
  o.u16(0);  // restart position
  o.u16(kChannels);
  o.u16(unsigned(song.patterns.size()));
  o.u16(unsigned(song.instruments.size()));
  o.u16(1);  // linear frequency slides
  o.u16(kSpeed);
  o.u16(kTempo);
  for (size_t i = 0; i < 256; ++i) o.u8(i < song.orders.size() ? song.orders[i] : 0);

  for (const Pattern &p : song.patterns) {
    Out d;
    for (int r = 0; r < kRows; ++r) {
      for (int c = 0; c < kChannels; ++c) {
        const Cell &cell = p.cells[r][c];
        uint8_t mask = 0x80;
        if (cell.note) mask |= 0x01;
        if (cell.instr) mask |= 0x02;
        if (cell.vol >= 0) mask |= 0x04;
        if (cell.fx != kFxNone) mask |= 0x08 | 0x10;
        d.u8(mask);
        if (cell.note) d.u8(cell.note);
        if (cell.instr) d.u8(cell.instr);
        if (cell.vol >= 0) d.u8(0x10 + cell.vol);
        if (cell.fx != kFxNone) { d.u8(cell.fx); d.u8(cell.param); }
      }
    }
    o.u32(9);
    o.u8(0);
    o.u16(kRows);
    o.u16(unsigned(d.b.size()));
    o.b.insert(o.b.end(), d.b.begin(), d.b.end());
  }

  for (const Instrument &ins : song.instruments) {
    o.u32(263);
    o.text(ins.name, 22);
    o.u8(0);
    o.u16(1);   // one sample
    o.u32(40);  // sample header size
    for (int i = 0; i < 96; ++i) o.u8(0);
    for (int i = 0; i < 12; ++i) {
      if (i < int(ins.volEnv.points.size())) {
        o.u16(ins.volEnv.points[i].tick);
        o.u16(ins.volEnv.points[i].value);
      } else {
        o.u32(0);
      }
    }
    for (int i = 0; i < 12; ++i) o.u32(0);  // panning envelope
    o.u8(unsigned(ins.volEnv.points.size()));
    o.u8(0);
    o.u8(ins.volEnv.sustain >= 0 ? ins.volEnv.sustain : 0);
    o.u8(0);
    o.u8(0);
    o.u8(0); o.u8(0); o.u8(0);
    uint8_t volType = 0;
    if (!ins.volEnv.points.empty()) volType |= 1;
    if (ins.volEnv.sustain >= 0) volType |= 2;
    o.u8(volType);
    o.u8(0);
    o.u8(ins.vibType); o.u8(ins.vibSweep); o.u8(ins.vibDepth); o.u8(ins.vibRate);
    o.u16(ins.fadeout);
    for (int i = 0; i < 22; ++i) o.u8(0);

    const uint32_t frames = uint32_t(ins.pcm.size());
    o.u32(frames * 2);
    o.u32(ins.loopStart * 2);
    o.u32(ins.loopLength * 2);
    o.u8(ins.volume);
    o.u8(uint8_t(ins.finetune));
    o.u8((ins.loopLength ? 1 : 0) | 0x10);
    o.u8(ins.panning);
    o.u8(uint8_t(ins.relativeNote));
    o.u8(0);
    o.text(ins.name, 22);

    int16_t prev = 0;
    for (int16_t s : ins.pcm) {
      o.u16(uint16_t(int16_t(s - prev)));
      prev = s;
    }
  }
  return o.b;
}

}  // namespace music
