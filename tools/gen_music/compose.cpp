// Composes the show's song in A minor: 31 orders of 64 rows whose sections
// follow the scenes (dusk intro, snow, rain, night city, bus, flight, sunset,
// field outro) and mark the rows the scenes time their events by.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tools/gen_music/instruments.h"
#include "tools/gen_music/song.h"

namespace music {
namespace {

enum Channel { kChKick, kChSnare, kChHat, kChFx, kChBass, kChPad1, kChPad2, kChPad3, kChLead, kChAux, kChBell, kChEcho, kChDrone };

// XM note from a name such as "A4", "C#5" or "Bb3".
int N(const std::string &name) {
  static const int pcs[7] = {9, 11, 0, 2, 4, 5, 7};  // A..G
  int pc = pcs[name[0] - 'A'];
  size_t i = 1;
  if (name[i] == '#') { ++pc; ++i; }
  else if (name[i] == 'b') { --pc; ++i; }
  int octave = name[i] - '0';
  return octave * 12 + pc + 1;
}

struct Chord {
  int bass;           // pitch class of the bass note
  std::array<int, 3> pcs;  // pitch classes of the three pad voices
};

// Pitch classes: C0 D2 E4 F5 G7 G#8 A9 B11.
const Chord kAm{9, {9, 0, 4}}, kAm7{9, {7, 0, 4}}, kF{5, {9, 0, 5}}, kFmaj7{5, {9, 0, 4}},
    kC{0, {7, 0, 4}}, kCmaj7{0, {7, 11, 4}}, kG{7, {7, 11, 2}}, kGsus{7, {7, 0, 2}},
    kEm{4, {7, 11, 4}}, kDm{2, {9, 2, 5}}, kDm7{2, {9, 0, 5}}, kE{4, {8, 11, 4}}, kEsus{4, {9, 11, 4}};

using Bar4 = std::array<Chord, 4>;

struct Writer {
  Song &song;
  int order = 0;
  uint32_t rng = 12345;

  Pattern &pat() { return song.patterns[size_t(order)]; }
  Cell &at(int row, int ch) { return pat().cells[row][ch]; }
  void note(int row, int ch, int n, int instr, int vol = -1) {
    if (row < 0 || row >= kRows) return;
    Cell &c = at(row, ch);
    c.note = uint8_t(n);
    c.instr = uint8_t(instr);
    c.vol = int8_t(vol < 0 ? -1 : std::min(vol, 64));
  }
  void off(int row, int ch) {
    if (row < 0 || row >= kRows) return;
    at(row, ch).note = kKeyOff;
  }
  void fx(int row, int ch, uint8_t effect, uint8_t param) {
    Cell &c = at(row, ch);
    c.fx = effect;
    c.param = param;
  }
  void vol(int row, int ch, int v) { at(row, ch).vol = int8_t(std::clamp(v, 0, 64)); }
  int rand(int lo, int hi) {  // deterministic, inclusive
    rng = rng * 1103515245u + 12345u;
    return lo + int((rng >> 16) % uint32_t(hi - lo + 1));
  }

  // Melody in tokens of `step` rows: a note name starts a note, "-" holds,
  // "^" releases, "." leaves the row empty.
  void melody(int ch, int instr, int row, int step, const std::string &tokens, int v, int echoCh = -1,
              int echoDelay = 3, int echoVol = 0) {
    std::istringstream in(tokens), count(tokens);
    std::string t;
    int n = 0;
    while (count >> t) ++n;
    if (row + n * step > kRows)
      throw std::logic_error("melody runs past the pattern's end: " + tokens.substr(0, 24));
    for (; in >> t; row += step) {
      if (t == "-" || t == ".") continue;
      if (t == "^") {
        off(row, ch);
        if (echoCh >= 0) off(row + echoDelay, echoCh);
        continue;
      }
      note(row, ch, N(t), instr, v);
      if (echoCh >= 0 && row + echoDelay < kRows) note(row + echoDelay, echoCh, N(t), instr, echoVol);
    }
  }
};

// Nearest voicing of a chord to the previous pad voicing, within G3..E5.
std::array<int, 3> Voice(const std::array<int, 3> &prev, const Chord &c) {
  std::array<int, 3> best{}, order{0, 1, 2};
  int bestCost = 1 << 30;
  do {
    std::array<int, 3> v{};
    int cost = 0;
    for (int i = 0; i < 3; ++i) {
      int pc = c.pcs[size_t(order[size_t(i)])];
      int cand = prev[size_t(i)] - 6;
      while ((cand - 1) % 12 != pc) ++cand;
      cand = std::clamp(cand, N("G3"), N("E5"));
      while ((cand - 1) % 12 != pc) ++cand;
      v[size_t(i)] = cand;
      cost += std::abs(cand - prev[size_t(i)]);
    }
    if (v[0] == v[1] || v[1] == v[2] || v[0] == v[2]) cost += 100;
    if (cost < bestCost) { bestCost = cost; best = v; }
  } while (std::next_permutation(order.begin(), order.end()));
  std::sort(best.begin(), best.end());
  return best;
}

int BassNote(const Chord &c, int low = N("E2")) {
  int n = low;
  while ((n - 1) % 12 != c.bass) ++n;
  return n;
}

struct Composer {
  Writer w;
  std::array<int, 3> voicing{N("A3"), N("C4"), N("E4")};
  std::array<int, 3> padHeld{0, 0, 0}, padInstr{0, 0, 0};  // what each pad voice sounds now

  explicit Composer(Song &s) : w{s} {}

  void pads(const Bar4 &bars, int instr, int v, int firstBar = 0, int lastBar = 3) {
    for (int b = firstBar; b <= lastBar; ++b) {
      voicing = Voice(voicing, bars[size_t(b)]);
      for (int i = 0; i < 3; ++i) {
        // A voice that keeps its note is held (only its volume is set), so
        // the pad does not swell again at every chord.
        size_t k = size_t(i);
        if (padHeld[k] == voicing[k] && padInstr[k] == instr) {
          w.vol(b * 16, kChPad1 + i, v);
        } else {
          w.note(b * 16, kChPad1 + i, voicing[k], instr, v);
          padHeld[k] = voicing[k];
          padInstr[k] = instr;
        }
      }
    }
  }
  void padsOff(int row) {
    for (int i = 0; i < 3; ++i) w.off(row, kChPad1 + i);
    padHeld = {0, 0, 0};
  }
  // One held bass note per bar.
  void bassWhole(const Bar4 &bars, int v) {
    for (int b = 0; b < 4; ++b) w.note(b * 16, kChBass, BassNote(bars[size_t(b)]), kBass, v);
  }
  // Before the bass arrives the low end is a soft pad drone on the chord roots.
  void drone(const Bar4 &bars, int v) {
    for (int b = 0; b < 4; ++b) {
      int n = BassNote(bars[size_t(b)], N("E3"));
      if (b > 0 && BassNote(bars[size_t(b - 1)], N("E3")) == n) continue;
      w.note(b * 16, kChDrone, n, kPad, v);
    }
  }
  // Driving bass: root, octave and fifth on a syncopated grid.
  void bassGroove(const Bar4 &bars, int v, int fromRow = 0, int toRow = 63) {
    static const int rows[] = {0, 3, 6, 8, 10, 13};
    static const int steps[] = {0, 0, 12, 0, 7, 12};
    static const int accent[] = {0, -14, -8, -4, -12, -8};
    for (int b = 0; b < 4; ++b) {
      int root = BassNote(bars[size_t(b)]);
      for (int k = 0; k < 6; ++k) {
        int r = b * 16 + rows[k];
        if (r < fromRow || r > toRow) continue;
        w.note(r, kChBass, root + steps[k], kBass, v + accent[k]);
      }
    }
  }
  void bassPulse(const Bar4 &bars, int v) {
    for (int b = 0; b < 4; ++b) {
      int root = BassNote(bars[size_t(b)]);
      for (int k = 0; k < 8; ++k) w.note(b * 16 + k * 2, kChBass, root + ((k == 3 || k == 7) ? 12 : 0), kBass, k % 2 ? v - 12 : v);
    }
  }
  // Chord tones as a rising and falling sixteenth-note arpeggio.
  void arpeggio(const Bar4 &bars, int ch, int instr, int v, int octaveUp, int fromRow = 0, int toRow = 63) {
    static const int shape[8] = {0, 1, 2, 3, 4, 3, 2, 1};
    std::array<int, 3> vc = voicing;
    for (int b = 0; b < 4; ++b) {
      vc = Voice(vc, bars[size_t(b)]);
      int tones[5] = {vc[0], vc[1], vc[2], vc[0] + 12, vc[1] + 12};
      for (int k = 0; k < 16; ++k) {
        int r = b * 16 + k;
        if (r < fromRow || r > toRow) continue;
        w.note(r, ch, tones[shape[k % 8]] + 12 * octaveUp, instr, (k % 4 == 0) ? v : v - 10);
      }
    }
  }
  void kick(int row, int v = 64) { w.note(row, kChKick, N("C4"), kKick, v); }
  void snare(int row, int v = 56) { w.note(row, kChSnare, N("C4"), kSnare, v); }
  void clap(int row, int v = 50) { w.note(row, kChSnare, N("C4"), kClap, v); }
  void hat(int row, int v) { w.note(row, kChHat, N("C4"), kHatClosed, v); }
  void openHat(int row, int v) { w.note(row, kChHat, N("C4"), kHatOpen, v); }
  void crash(int row, int v = 48) { w.note(row, kChFx, N("C4"), kCrash, v); }
  void riser(int row, int v = 48) { w.note(row, kChFx, N("C4"), kRiser, v); }

  void hats8(int v, int from = 0, int to = 63) {
    for (int r = from; r <= to; r += 2) hat(r, (r % 4 == 2) ? v : v - 12);
  }
  void hats16(int v, int from = 0, int to = 63) {
    for (int r = from; r <= to; ++r) hat(r, (r % 4 == 2) ? v : (r % 2 ? v - 16 : v - 8));
  }
  void snareRoll(int from, int to, int v0, int v1) {
    for (int r = from; r <= to; ++r) snare(r, v0 + (v1 - v0) * (r - from) / std::max(1, to - from));
  }
  // Straight four-on-the-floor with backbeat.
  void beatCity(int from = 0, int to = 63) {
    for (int b = 0; b < 4; ++b) {
      int r0 = b * 16;
      for (int r : {0, 7, 10}) if (r0 + r >= from && r0 + r <= to) kick(r0 + r, r == 0 ? 64 : 52);
      for (int r : {4, 12}) if (r0 + r >= from && r0 + r <= to) snare(r0 + r);
    }
  }
  void beatBus(int from = 0, int to = 63) {
    for (int b = 0; b < 4; ++b) {
      int r0 = b * 16;
      for (int r : {0, 3, 8, 11}) if (r0 + r >= from && r0 + r <= to) kick(r0 + r, (r == 0 || r == 8) ? 64 : 48);
      for (int r : {4, 12}) if (r0 + r >= from && r0 + r <= to) { snare(r0 + r); }
      if (r0 + 15 >= from && r0 + 15 <= to) snare(r0 + 15, 24);
    }
  }
  void beatHalf(int from = 0, int to = 63) {
    for (int b = 0; b < 4; ++b) {
      int r0 = b * 16;
      for (int r : {0, 6}) if (r0 + r >= from && r0 + r <= to) kick(r0 + r, r == 0 ? 64 : 48);
      if (r0 + 8 >= from && r0 + 8 <= to) snare(r0 + 8, 60);
    }
  }
  void fadeOut(int fromRow, int perTick) {
    w.fx(fromRow, kChFx, kFxGlobalVolSlide, uint8_t(perTick & 0x0F));
    for (int r = fromRow + 1; r < kRows; ++r) w.fx(r, kChFx, kFxGlobalVolSlide, 0x00);
  }
  void globalVolume(int row, int v) { w.fx(row, kChFx, kFxGlobalVol, uint8_t(v)); }

  void compose();
};

void Composer::compose() {
  const Bar4 main{kAm, kF, kC, kG};
  const Bar4 main2{kAm7, kFmaj7, kC, kG};
  const Bar4 snowA{kAm, kEm, kFmaj7, kC};
  const Bar4 snowB{kDm7, kAm, kF, kE};
  const Bar4 rainA{kDm, kAm, kDm, kE};
  const Bar4 rainB{kDm, kAm, kF, kE};
  const Bar4 busB{kAm, kF, kDm, kE};
  const Bar4 flyA{kF, kG, kEm, kAm};
  const Bar4 flyB{kF, kG, kC, kE};
  const Bar4 riseA{kF, kG, kAm, kAm};
  const Bar4 riseB{kDm, kEm, kF, kG};
  const Bar4 sun{kC, kG, kAm, kF};
  const Bar4 outro{kAm, kF, kC, kG};
  const Bar4 outroEnd{kAm, kF, kAm, kAm};

  // ---- 0-3: clouds at dusk, a pad that slowly builds --------------------
  w.order = 0;
  w.fx(0, kChFx, kFxGlobalVol, 64);
  pads(main2, kPad, 20);
  for (int b = 1; b < 4; ++b)
    for (int i = 0; i < 3; ++i) w.vol(b * 16, kChPad1 + i, 20 + 8 * b);
  w.order = 1;
  pads(main2, kPad, 44);
  drone(main2, 30);
  w.melody(kChAux, kChoir, 0, 2, "E5 - - - - - - - C5 - - - - - - - G4 - - - - - - - D5 - - - ^ - - -", 26);
  w.order = 2;
  pads(main2, kPad, 46);
  drone(main2, 36);
  w.melody(kChBell, kBell, 0, 1,
           "A5 . . E5 . . C6 . . . . . . . . . A5 . . E5 . . C6 . . . B5 . . . "
           "G5 . . E5 . . C6 . . . . . . . . . G5 . . D5 . . B5 . . . A5 . G5 .",
           30, kChEcho, 3, 14);
  w.melody(kChAux, kChoir, 0, 2, "E5 - - - - - - - E5 - - - - - - - E5 - - - - - - - D5 - - - - - - -", 28);
  w.order = 3;
  pads(main2, kPad, 48);
  drone(main2, 40);
  arpeggio(main2, kChEcho, kPluck, 26, 1);
  w.melody(kChBell, kBell, 0, 1,
           "A5 . . E5 . . C6 . . . . . . . . . A5 . . E5 . . C6 . . . D6 . . . "
           "E6 . . C6 . . G5 . . . . . . . . . D6 . . B5 . . G5 . . . . . . . .",
           32);
  w.melody(kChAux, kChoir, 0, 2, "C5 - - - - - - - C5 - - - - - - - E5 - - - - - - - D5 - - - - - - -", 30);
  riser(48, 40);
  fadeOut(51, 2);

  // ---- 4-5: snowfall, sparse bells, no drums ----------------------------
  w.order = 4;
  globalVolume(0, 64);
  pads(snowA, kChoir, 36);
  drone(snowA, 30);
  w.melody(kChBell, kBell, 0, 1,
           "E6 . . . B5 . . . . . G5 . . . . . B5 . . . . . E5 . . . . . . . . . "
           "C6 . . . A5 . . . . . E6 . . . . . D6 . . . . . C6 . . . G5 . . . . .",
           40, kChEcho, 3, 18);
  w.order = 5;
  pads(snowB, kChoir, 38);
  drone(snowB, 30);
  w.melody(kChBell, kBell, 0, 1,
           "F6 . . . D6 . . . . . A5 . . . . . E6 . . . . . C6 . . . . . A5 . . . "
           "C6 . . . A5 . . . . . F5 . . . . . G#5 . . . B5 . . . E6 . . . . . . .",
           40, kChEcho, 3, 18);

  // ---- 6-7: rain before a picture, minor, rain-like hats ---------------
  for (int o = 6; o <= 7; ++o) {
    w.order = o;
    const Bar4 &bars = o == 6 ? rainA : rainB;
    pads(bars, kPad, 34);
    for (int r = 0; r < kRows; ++r) {
      hat(r, w.rand(8, 22));
      if (w.rand(0, 3) == 0) w.fx(r, kChHat, kFxExtended, uint8_t(0xD0 | w.rand(2, 4)));
    }
    w.melody(kChAux, kChoir, 0, 2, o == 6 ? "A4 - - - - - - - A4 - - - - - - - F4 - - - - - - - G#4 - - - - - - -"
                                          : "F4 - - - - - - - E4 - - - - - - - A4 - - - - - - - B4 - - - - - - -",
             30);
    w.melody(kChBell, kPluck, 0, 1,
             o == 6 ? "D5 . F5 . A5 . . . . . . . . . . . C5 . E5 . A5 . . . . . . . . . . . "
                      "D5 . F5 . A5 . . . . . . . . . . . B4 . E5 . G#5 . . . . . . . . . . ."
                    : "D5 . F5 . A5 . D6 . . . . . . . . . C5 . E5 . A5 . C6 . . . . . . . . . "
                      "F5 . A5 . C6 . F6 . . . . . . . . . E5 . G#5 . B5 . E6 . . . . . . . . .",
             34, kChEcho, 3, 14);
    drone(bars, 28);
  }
  // Tension lift at the end of order 7: riser, snare roll, kick pulse.
  riser(48, 56);
  snareRoll(48, 63, 12, 52);
  w.off(48, kChDrone);

  // ---- 8-11: night city, beat and bass arrive ----------------------------
  for (int o = 8; o <= 11; ++o) {
    w.order = o;
    const Bar4 &bars = (o % 2) ? main2 : main;
    if (o == 8) crash(0, 44);
    pads(bars, kPad, o >= 10 ? 28 : 34);
    beatCity();
    bassGroove(bars, 56);
    if (o < 10) {
      hats8(34);
    } else {
      hats16(36);
      for (int b = 0; b < 4; ++b) { clap(b * 16 + 4, 40); clap(b * 16 + 12, 44); }
      arpeggio(bars, kChEcho, kPluck, 34, 1);
      for (int b = 0; b < 4; ++b) w.note(b * 16 + 14, kChFx, N("C4"), kHatOpen, 26);
    }
    w.melody(kChBell, kBell, 0, 4,
             o % 2 ? "E6 . . C6 . . A5 . C6 . . D6 . . B5 ." : "A5 . . C6 . . E6 . F6 . . E6 . . D6 .", 26);
  }
  w.order = 10;
  crash(0, 44);
  w.order = 11;
  fadeOut(51, 2);

  // ---- 12-15: bus in the rain, groove with a lead -----------------------
  const std::string leadA =
      "E5 - D5 C5 D5 E5 - A4 C5 - - A4 C5 - D5 - E5 - G5 - E5 D5 C5 - D5 - - - B4 - ^ -";
  const std::string leadB =
      "A5 - G5 E5 - D5 E5 - C5 - A4 - C5 D5 - C5 D5 - F5 - E5 - D5 - E5 - - - G#5 - ^ -";
  for (int o = 12; o <= 15; ++o) {
    w.order = o;
    const Bar4 &bars = o == 15 ? busB : main;
    if (o == 12) {
      globalVolume(0, 64);
      crash(0, 48);
    }
    pads(bars, kPad, 28);
    if (o == 13) {
      // Groove to row 14, breakdown 15-30 as the bus slows, sparse 31-49,
      // then a build from row 50 into order 14.
      beatBus(0, 14);
      hats16(32, 0, 14);
      bassGroove(bars, 54, 0, 14);
      w.melody(kChLead, kLead, 0, 2, "E5 - D5 C5 D5 E5 - A4", 44, kChAux, 3, 16);
      w.note(16, kChLead, N("C5"), kLead, 44);
      w.fx(18, kChLead, kFxPortaDown, 0x04);
      for (int r = 19; r <= 28; ++r) w.fx(r, kChLead, kFxPortaDown, 0x04);
      w.off(30, kChLead);
      w.note(16, kChBass, N("F2"), kBass, 44);
      w.fx(20, kChBass, kFxPortaDown, 0x03);
      for (int r = 21; r <= 28; ++r) w.fx(r, kChBass, kFxPortaDown, 0x03);
      w.off(30, kChBass);
      for (int r = 32; r < 50; r += 2) hat(r, 20 + (r - 32) / 2);
      kick(32, 50);
      kick(40, 50);
      kick(48, 54);
      w.note(32, kChBass, N("C3"), kBass, 40);
      w.note(40, kChBass, N("C3"), kBass, 40);
      w.note(48, kChBass, N("G2"), kBass, 44);
      w.melody(kChLead, kLead, 32, 2, "G5 - - - E5 - - - D5 - - - B4 - ^ -", 36, kChAux, 3, 14);
      riser(48, 52);
      snareRoll(50, 63, 16, 40);
      for (int r = 50; r < 64; r += 2) kick(r, 40 + (r - 50));
      continue;
    }
    if (o == 14) {
      // The build carries on to row 9; the groove is back from row 10.
      for (int r = 0; r <= 9; ++r) snare(r, 40 + 2 * r);
      for (int r = 0; r <= 8; r += 2) kick(r, 50);
      crash(10, 50);
      beatBus(10, 63);
      hats16(34, 10, 63);
      bassGroove(bars, 56, 10, 63);
      w.note(10, kChLead, N("A5"), kLead, 46);
      w.melody(kChLead, kLead, 16, 2, "A5 - G5 E5 - D5 E5 - C5 - A4 - C5 D5 - C5 D5 - F5 - E5 - D5 -", 46, kChAux, 3, 16);
      arpeggio(bars, kChEcho, kPluck, 28, 1, 16, 63);
      continue;
    }
    beatBus();
    hats16(o == 12 ? 30 : 34);
    bassGroove(bars, 56);
    w.melody(kChLead, kLead, 0, 2, o == 15 ? leadB : leadA, 46, kChAux, 3, 16);
    if (o == 15) arpeggio(bars, kChEcho, kPluck, 28, 1);
  }
  w.order = 15;
  riser(48, 44);
  for (int r = 56; r < 64; ++r) snare(r, 30 + 3 * (r - 56));

  // ---- 16-19: flight over the map, wide and soaring ---------------------
  for (int o = 16; o <= 19; ++o) {
    w.order = o;
    const Bar4 &bars = o == 16 ? flyA : o == 17 ? flyB : o == 18 ? riseA : riseB;
    crash(0, o == 16 ? 52 : 40);
    pads(bars, kChoir, 36);
    bassWhole(bars, 52);
    if (o >= 18) {
      bassGroove(bars, 50);
      arpeggio(bars, kChEcho, kPluck, 24 + 4 * (o - 18), 1);
    }
    beatHalf();
    hats8(o >= 18 ? 32 : 26);
  }
  w.order = 16;
  w.melody(kChLead, kLead, 0, 2, "A5 - - - - - - - B5 - - - G5 - - - E5 - - - - - B5 - C6 - - - B5 - A5 -", 44, kChAux, 3, 18);
  w.order = 17;
  w.melody(kChLead, kLead, 0, 2, "A5 - - - C6 - - - D6 - - - B5 - G5 - E6 - - - - - D6 - B5 - - - G#5 - - -", 44, kChAux, 3, 18);
  w.order = 18;
  w.melody(kChLead, kLead, 0, 2, "C6 - - - A5 - - - D6 - - - B5 - - - E6 - - - C6 - - - E6 - - - G6 - - -", 46, kChAux, 3, 18);
  w.order = 19;
  w.melody(kChLead, kLead, 0, 2, "F6 - - - D6 - - - G6 - - - E6 - - - A6 - - - F6 - - - G6 - - - B5 - ^ -", 46, kChAux, 3, 18);
  riser(48, 56);
  snareRoll(48, 63, 24, 60);

  // ---- 20-21: sunset with titles, the melodic high point ----------------
  const std::string sunA =
      "G5 - E5 - G5 - A5 G5 D5 - - B4 D5 - G5 - C6 - B5 - A5 - E5 - F5 - E5 - C5 - A4 - ";
  const std::string sunB =
      "E5 - G5 - C6 - B5 C6 D6 - - B5 G5 - - - A5 - G5 - E5 - C5 - D5 - C5 - A4 - G4 - ";
  for (int o = 20; o <= 21; ++o) {
    w.order = o;
    crash(0, 52);
    pads(sun, kPad, 30);
    bassPulse(sun, 52);
    for (int b = 0; b < 4; ++b) {
      int r0 = b * 16;
      kick(r0, 64); kick(r0 + 8, 60); kick(r0 + 14, 44);
      snare(r0 + 4, 54); snare(r0 + 12, 54);
    }
    hats8(34);
    for (int b = 0; b < 4; ++b) w.note(b * 16 + 6, kChFx, N("C4"), kHatOpen, 24);
    // Two phrases per order: each token is two rows, 16 tokens per half.
    w.melody(kChLead, kLead, 0, 2, o == 20 ? sunA : sunB, 48, kChAux, 3, 18);
    w.melody(kChBell, kBell, 0, 4,
             o == 20 ? "C6 . E6 . D6 . B5 . C6 . A5 . F5 . A5 ." : "E6 . G6 . D6 . B5 . C6 . E6 . A5 . C6 .", 26);
    arpeggio(sun, kChEcho, kPluck, 24, 1);
  }
  fadeOut(50, 2);

  // ---- 22-30: silhouettes on the field, calm outro -----------------------
  for (int o = 22; o <= 30; ++o) {
    w.order = o;
    if (o == 22) globalVolume(0, 64);
    const Bar4 &bars = o >= 29 ? outroEnd : (o % 2 ? main2 : outro);
    const bool dedication = (o == 25 || o == 26);
    pads(bars, dedication ? kChoir : kPad, dedication ? 40 : 36);
    bassWhole(bars, 34);
    if (o >= 23 && o <= 28 && !dedication) {
      for (int r = 2; r < 64; r += 4) hat(r, 16);
      for (int b = 0; b < 4; ++b) kick(b * 16, 40);
    }
    if (dedication) {
      // The dedication appears from row 16: a soft chime, then its own bell
      // line over the choir until row 50, where the picture holds.
      crash(16, 28);
      w.melody(kChBell, kBell, 16, 1,
               o == 25 ? "A5 . . . C6 . . . E6 . . . . . . . E6 . . . D6 . . . C6 . . . . . . . "
                         "B5 . . . D6 . . . G6 . . . . . . ."
                       : "C6 . . . F6 . . . A6 . . . . . . . G6 . . . E6 . . . C6 . . . . . . . "
                         "D6 . . . B5 . . . G5 . . . . . . .",
               44, kChEcho, 3, 20);
      w.melody(kChLead, kLead, 16, 16, o == 25 ? "E5 G5 B4" : "A5 G5 D5", 30);
    } else {
      arpeggio(bars, kChEcho, kPluck, 22, 1);
      if (o < 30)
        w.melody(kChBell, kBell, 0, 8, o % 2 ? "E6 . C6 . A5 . B5 ." : "C6 . A5 . E5 . D6 .", 30);
    }
  }
  w.order = 30;
  // The last order dies away: everything released, global volume to zero.
  padsOff(48);
  w.off(48, kChBass);
  fadeOut(40, 1);
}

// Spreads the voices across the stereo field: every note that brings its
// instrument gets a panning command, since a new note resets the panning to
// the sample's own.
void PlaceInStereo(Song &song) {
  static const int pan[kChannels] = {-1, -1, -1, -1, -1, 80, 128, 176, 112, 176, 96, 160, 128};
  for (Pattern &p : song.patterns)
    for (int r = 0; r < kRows; ++r)
      for (int c = 0; c < kChannels; ++c) {
        Cell &cell = p.cells[r][c];
        if (pan[c] >= 0 && cell.instr && cell.fx == kFxNone) {
          cell.fx = kFxPanning;
          cell.param = uint8_t(pan[c]);
        }
      }
}

}  // namespace

void ComposeSong(Song &song) {
  song.name = "lantern";
  song.orders.clear();
  song.patterns.assign(kOrders, Pattern{});
  for (int o = 0; o < kOrders; ++o) song.orders.push_back(uint8_t(o));
  Composer c(song);
  c.compose();
  PlaceInStereo(song);
}

}  // namespace music
