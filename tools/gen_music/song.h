// In-memory model of the show's song, shared by the composer, the instrument
// synthesiser and the two file writers (plain XM and the MO3 container).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace music {

constexpr int kChannels = 13;
constexpr int kRows = 64;
constexpr int kOrders = 31;
constexpr int kSpeed = 6;
constexpr int kTempo = 125;

constexpr uint8_t kKeyOff = 97;  // XM key-off note

// XM effect numbers used by the composition.
enum Effect : uint8_t {
  kFxArpeggio = 0x0,
  kFxPortaUp = 0x1,
  kFxPortaDown = 0x2,
  kFxVibrato = 0x4,
  kFxPanning = 0x8,
  kFxVolSlide = 0xA,
  kFxExtended = 0xE,
  kFxSpeedTempo = 0xF,
  kFxGlobalVol = 0x10,
  kFxGlobalVolSlide = 0x11,
  kFxNone = 0xFF,
};

// One pattern cell. note: 0 none, 1..96 XM notes (49 = C-4), 97 key off.
// instr: 0 none, else 1-based. vol: -1 none, else 0..64. fx: kFxNone or an
// XM effect with its parameter.
struct Cell {
  uint8_t note = 0;
  uint8_t instr = 0;
  int8_t vol = -1;
  uint8_t fx = kFxNone;
  uint8_t param = 0;
  bool empty() const { return note == 0 && instr == 0 && vol < 0 && fx == kFxNone; }
  bool operator==(const Cell &o) const {
    return note == o.note && instr == o.instr && vol == o.vol && fx == o.fx && param == o.param;
  }
};

struct Pattern {
  Cell cells[kRows][kChannels];
};

struct EnvPoint {
  uint16_t tick;
  uint16_t value;  // 0..64
};

struct Envelope {
  std::vector<EnvPoint> points;  // empty: envelope off
  int sustain = -1;              // point index or -1
};

// One instrument with exactly one 16-bit mono sample.
struct Instrument {
  std::string name;
  std::vector<int16_t> pcm;
  uint32_t loopStart = 0;
  uint32_t loopLength = 0;  // 0: no loop
  uint8_t volume = 64;      // default sample volume 0..64
  uint8_t panning = 128;    // 0..255
  int8_t relativeNote = 0;
  int8_t finetune = 0;      // even values only (linear slides use 1/64 semitone)
  Envelope volEnv;
  uint16_t fadeout = 0;
  uint8_t vibType = 0, vibSweep = 0, vibDepth = 0, vibRate = 0;
};

struct Song {
  std::string name;
  std::vector<uint8_t> orders;  // pattern index per order
  std::vector<Pattern> patterns;
  std::vector<Instrument> instruments;
};

// Builders.
void SynthesiseInstruments(Song &song);  // fills song.instruments
void ComposeSong(Song &song);            // fills orders and patterns

// Writers. Both return the complete file.
std::vector<uint8_t> WriteXM(const Song &song);
std::vector<uint8_t> WriteMO3(const Song &song);

// MO3 music-stream compressor (exposed for tests of the round trip).
std::vector<uint8_t> CompressMO3Stream(const std::vector<uint8_t> &data);

}  // namespace music
