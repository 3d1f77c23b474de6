// Tests of the show's music: the generated TRK-MAIN.mo3 as libopenmpt plays
// it (container, form, end, levels, sections), the MO3 writer against the
// plain XM of the same song, the MO3 stream compressor, and the instruments.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <libopenmpt/libopenmpt.hpp>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "tools/gen_music/instruments.h"
#include "tools/gen_music/song.h"

namespace {

constexpr int kRate = 44100;
constexpr int kFramesPerRow = 5292;  // 6 ticks of 20 ms at 44.1 kHz
constexpr int kFramesPerOrder = kFramesPerRow * 64;

std::vector<uint8_t> ReadAll(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::unique_ptr<openmpt::module> Load(const std::vector<uint8_t> &bytes) {
  static std::ostringstream log;
  return std::make_unique<openmpt::module>(bytes, log);
}

// Whole song rendered as interleaved float stereo, playing exactly to its end.
std::vector<float> Render(openmpt::module &m) {
  m.ctl_set_text("play.at_end", "stop");
  std::vector<float> out;
  std::vector<float> buf(2 * 4096);
  for (;;) {
    size_t n = m.read_interleaved_stereo(kRate, 4096, buf.data());
    if (n == 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + 2 * n);
  }
  return out;
}

double RmsDb(const std::vector<float> &pcm, size_t firstFrame, size_t frames) {
  double sum = 0.0;
  size_t end = std::min(pcm.size() / 2, firstFrame + frames);
  if (end <= firstFrame) return -200.0;
  for (size_t i = 2 * firstFrame; i < 2 * end; ++i) sum += double(pcm[i]) * pcm[i];
  return 10.0 * std::log10(sum / double(2 * (end - firstFrame)) + 1e-20);
}

double RowDb(const std::vector<float> &pcm, int order, int row, int rows = 1) {
  return RmsDb(pcm, size_t(order * kFramesPerOrder + row * kFramesPerRow), size_t(rows * kFramesPerRow));
}

const std::vector<uint8_t> &ShippedFile() {
  static const std::vector<uint8_t> bytes = ReadAll(std::string(LANTERN_DATA_DIR) + "/TRK-MAIN.mo3");
  return bytes;
}

const std::vector<float> &ShippedAudio() {
  static const std::vector<float> pcm = [] {
    auto m = Load(ShippedFile());
    return Render(*m);
  }();
  return pcm;
}

bool IsDrum(int instr) {
  return instr == music::kKick || instr == music::kSnare || instr == music::kClap ||
         instr == music::kHatClosed || instr == music::kHatOpen;
}

// ---- the shipped module ----------------------------------------------------

TEST(MusicModule, OpensAsMo3WithTheShowsForm) {
  ASSERT_FALSE(ShippedFile().empty()) << "build the data target first";
  auto m = Load(ShippedFile());
  EXPECT_EQ(m->get_metadata("type"), "mo3");
  EXPECT_EQ(m->get_metadata("originaltype"), "xm");
  ASSERT_EQ(m->get_num_orders(), 31);
  for (int o = 0; o < 31; ++o) {
    int pattern = m->get_order_pattern(o);
    EXPECT_EQ(m->get_pattern_num_rows(pattern), 64) << "order " << o;
  }
  EXPECT_NEAR(m->get_duration_seconds(), 238.08, 0.1);
  EXPECT_EQ(m->get_current_speed(), 6);
  EXPECT_EQ(m->get_current_tempo(), 125);
}

TEST(MusicModule, PlaysEveryOrderOnceAndReportsTheLastRowBeforeTheEnd) {
  auto m = Load(ShippedFile());
  m->ctl_set_text("play.at_end", "stop");
  std::vector<float> buf(2 * 1024);
  int lastOrder = 0, lastRow = 0, maxOrderSeen = -1;
  bool monotonic = true;
  size_t frames = 0;
  for (;;) {
    size_t n = m->read_interleaved_stereo(kRate, 1024, buf.data());
    frames += n;
    if (n < 1024) break;  // the short last chunk already reports the wrapped position
    int o = m->get_current_order(), r = m->get_current_row();
    if (o < lastOrder || (o == lastOrder && r < lastRow)) monotonic = false;
    if (o > maxOrderSeen + 1) monotonic = false;  // no order skipped
    maxOrderSeen = std::max(maxOrderSeen, o);
    lastOrder = o;
    lastRow = r;
  }
  EXPECT_TRUE(monotonic);
  EXPECT_EQ(lastOrder, 30);
  EXPECT_EQ(lastRow, 63);
  EXPECT_NEAR(double(frames) / kRate, 238.08, 0.05);
}

TEST(MusicModule, LevelsStayInRangeWithoutClipping) {
  const std::vector<float> &pcm = ShippedAudio();
  ASSERT_GE(pcm.size() / 2, size_t(31) * kFramesPerOrder - kFramesPerRow);
  float peak = 0.0f;
  for (float s : pcm) peak = std::max(peak, std::fabs(s));
  EXPECT_LE(20.0 * std::log10(peak), -0.3) << "peak " << peak;

  const bool introOrFade[31] = {true, true, true, true, false, false, false, false, false, false, false,
                                true, false, false, false, false, false, false, false, false, false,
                                true, false, false, false, false, false, false, false, false, true};
  for (int o = 0; o < 31; ++o) {
    double db = RowDb(pcm, o, 0, 64);
    EXPECT_GT(db, -45.0) << "order " << o << " is (nearly) silent";
    if (!introOrFade[o]) {
      EXPECT_GE(db, -30.0) << "order " << o;
      EXPECT_LE(db, -10.0) << "order " << o;
    }
  }
}

TEST(MusicModule, FadesLandWhereTheScenesFade) {
  const std::vector<float> &pcm = ShippedAudio();
  // Orders 3, 11 and 21 fade from row 51 (21 from 50): the last rows are far
  // quieter than the rows before the fade, and the next order is loud again.
  for (int o : {3, 11, 21}) {
    double before = RowDb(pcm, o, 40, 8), after = RowDb(pcm, o, 61, 3);
    EXPECT_LT(after, before - 20.0) << "order " << o;
    EXPECT_GT(RowDb(pcm, o + 1, 0, 16), after + 20.0) << "order " << o + 1;
  }
  // The song dies away to silence by its last row.
  EXPECT_LT(RowDb(pcm, 30, 63), -70.0);
  EXPECT_GT(RowDb(pcm, 30, 0, 16), -35.0);
}

TEST(MusicModule, SectionsChangeWhereTheScenesChange) {
  music::Song song;
  music::SynthesiseInstruments(song);
  music::ComposeSong(song);
  auto notesIn = [&](int order, int fromRow, int toRow, bool (*which)(int)) {
    int count = 0;
    for (int r = fromRow; r <= toRow; ++r)
      for (int c = 0; c < music::kChannels; ++c) {
        const music::Cell &cell = song.patterns[song.orders[size_t(order)]].cells[r][c];
        if (cell.note && cell.note != music::kKeyOff && which(cell.instr)) ++count;
      }
    return count;
  };
  auto drumsIn = [&](int order, int fromRow, int toRow) { return notesIn(order, fromRow, toRow, IsDrum); };
  auto bassIn = [&](int order) { return notesIn(order, 0, 63, [](int i) { return i == music::kBass; }); };
  for (int o : {0, 1, 2, 3, 4, 5}) EXPECT_EQ(drumsIn(o, 0, 63), 0) << "order " << o;
  EXPECT_GT(drumsIn(6, 0, 63), 32) << "rain hats";
  for (int o = 8; o <= 21; ++o) EXPECT_GT(drumsIn(o, 0, 63), 16) << "order " << o;
  EXPECT_GT(drumsIn(10, 0, 63), drumsIn(8, 0, 63)) << "10-11 are busier than 8-9";
  EXPECT_EQ(drumsIn(13, 15, 30), 0) << "breakdown while the bus slows";
  EXPECT_GT(drumsIn(13, 50, 63), 10) << "build back";
  EXPECT_GT(drumsIn(14, 0, 9), 8) << "build back";

  // The bass arrives with the city and stays to the end.
  for (int o = 0; o <= 7; ++o) EXPECT_EQ(bassIn(o), 0) << "order " << o;
  for (int o = 8; o <= 30; ++o) EXPECT_GT(bassIn(o), 0) << "order " << o;
  const std::vector<float> &pcm = ShippedAudio();
  EXPECT_GT(RowDb(pcm, 8, 0, 64), RowDb(pcm, 5, 0, 64) + 3.0);
}

// ---- writers and compressor --------------------------------------------------

TEST(MusicWriters, Mo3AndXmOfTheSameSongSoundTheSame) {
  music::Song song;
  music::SynthesiseInstruments(song);
  music::ComposeSong(song);
  auto mo3 = Load(music::WriteMO3(song));
  auto xm = Load(music::WriteXM(song));
  EXPECT_EQ(mo3->get_metadata("type"), "mo3");
  EXPECT_EQ(xm->get_metadata("type"), "xm");
  const std::vector<float> a = Render(*mo3), b = Render(*xm);
  ASSERT_EQ(a.size(), b.size());
  double ab = 0, bb = 0, aa = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    ab += double(a[i]) * b[i];
    bb += double(b[i]) * b[i];
    aa += double(a[i]) * a[i];
  }
  ASSERT_GT(bb, 0.0);
  const double gain = ab / bb;
  double err = 0;
  for (size_t i = 0; i < a.size(); ++i) err += std::pow(a[i] - gain * b[i], 2.0);
  EXPECT_LT(err / aa, 1e-9) << "gain " << gain;
}

TEST(MusicWriters, GeneratorIsByteDeterministic) {
  const std::string exe = std::string(LANTERN_BUILD_DIR) + "/lantern-gen-music";
  const std::string base = ::testing::TempDir() + "lantern-music-" + std::to_string(::getpid());
  for (const char *d : {"/a", "/b"}) {
    std::string dir = base + d;
    ASSERT_EQ(std::system(("mkdir -p " + dir + " && " + exe + " --out " + dir + " --xm").c_str()), 0);
  }
  for (const char *f : {"/TRK-MAIN.mo3", "/TRK-MAIN.xm"}) {
    std::vector<uint8_t> x = ReadAll(base + "/a" + f), y = ReadAll(base + "/b" + f);
    EXPECT_FALSE(x.empty());
    EXPECT_TRUE(x == y) << f;
  }
  EXPECT_TRUE(ReadAll(base + "/a/TRK-MAIN.mo3") == ShippedFile());
  std::system(("rm -rf " + base).c_str());
}

// Reference decoder of the MO3 music stream, written from the format's
// description: returns false on any malformed input.
bool Unpack(const std::vector<uint8_t> &in, size_t size, std::vector<uint8_t> &out) {
  out.clear();
  size_t pos = 0;
  int bits = 0;
  uint8_t ctrl = 0;
  auto bit = [&](int &b) {
    if (bits == 0) {
      if (pos >= in.size()) return false;
      ctrl = in[pos++];
      bits = 8;
    }
    b = (ctrl >> 7) & 1;
    ctrl <<= 1;
    --bits;
    return true;
  };
  auto gamma = [&](int &v) {
    v = 1;
    int b, more;
    do {
      if (!bit(b) || !bit(more)) return false;
      v = v * 2 + b;
    } while (more);
    return true;
  };
  if (in.empty()) return size == 0;
  out.push_back(in[pos++]);
  long prevDist = 0;
  while (out.size() < size) {
    int flag;
    if (!bit(flag)) return false;
    if (!flag) {
      if (pos >= in.size()) return false;
      out.push_back(in[pos++]);
      continue;
    }
    int v;
    if (!gamma(v)) return false;
    long dist, len, bonus = 0;
    if (v == 2) {
      dist = prevDist;
    } else {
      if (pos >= in.size()) return false;
      dist = ((long(v) - 3) << 8 | in[pos++]) + 1;
      bonus = 1 + (dist > 1280) + (dist > 32000);
      prevDist = dist;
    }
    int b1, b2;
    if (!bit(b1) || !bit(b2)) return false;
    len = b1 * 2 + b2;
    if (len == 0) {
      int g;
      if (!gamma(g)) return false;
      len = g + 2;
    }
    len += bonus;
    if (dist <= 0 || size_t(dist) > out.size() || out.size() + size_t(len) > size) return false;
    for (long k = 0; k < len; ++k) out.push_back(out[out.size() - size_t(dist)]);
  }
  return pos == in.size();
}

TEST(MusicWriters, StreamCompressorRoundTripsAndUsesBackReferences) {
  std::vector<std::vector<uint8_t>> inputs;
  uint32_t s = 7;
  std::vector<uint8_t> noise(5000), runs(3000, 0x41), far;
  for (auto &b : noise) { s = s * 1664525u + 1013904223u; b = uint8_t(s >> 24); }
  // Repeats at distances beyond 1280 and 32000 exercise the longer length codes.
  std::vector<uint8_t> chunk(noise.begin(), noise.begin() + 700);
  far = chunk;
  far.insert(far.end(), noise.begin() + 700, noise.begin() + 2700);
  far.insert(far.end(), chunk.begin(), chunk.end());
  for (int i = 0; i < 40000; ++i) far.push_back(uint8_t(i * 7 + (i >> 9)));
  far.insert(far.end(), chunk.begin(), chunk.end());
  inputs = {{0x11}, {1, 2}, noise, runs, far};
  music::Song song;
  music::SynthesiseInstruments(song);
  music::ComposeSong(song);
  inputs.push_back(music::WriteXM(song));
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::vector<uint8_t> packed = music::CompressMO3Stream(inputs[i]), unpacked;
    ASSERT_TRUE(Unpack(packed, inputs[i].size(), unpacked)) << "input " << i;
    EXPECT_TRUE(unpacked == inputs[i]) << "input " << i;
  }
  EXPECT_LT(music::CompressMO3Stream(runs).size(), 100u);
  EXPECT_LT(music::CompressMO3Stream(far).size(), far.size() - 1000);

  // In the shipped file the compressed music stream is much smaller than the data it holds.
  const std::vector<uint8_t> &f = ShippedFile();
  ASSERT_GE(f.size(), 12u);
  uint32_t musicSize = f[4] | f[5] << 8 | f[6] << 16 | uint32_t(f[7]) << 24;
  uint32_t packedSize = f[8] | f[9] << 8 | f[10] << 16 | uint32_t(f[11]) << 24;
  EXPECT_EQ(f[3], 5);
  EXPECT_LT(packedSize * 2, musicSize);
}

// ---- instruments ---------------------------------------------------------------

// Frequency of the strongest period between minHz and maxHz, by normalised
// autocorrelation with parabolic refinement.
double Pitch(const std::vector<float> &pcm, size_t from, size_t frames, double minHz, double maxHz) {
  std::vector<double> x(frames);
  for (size_t i = 0; i < frames; ++i) x[i] = pcm[2 * (from + i)] + pcm[2 * (from + i) + 1];
  int lo = int(kRate / maxHz), hi = int(kRate / minHz) + 1;
  std::vector<double> r(size_t(hi + 2), 0.0);
  for (int lag = lo - 1; lag <= hi + 1; ++lag) {
    double s = 0, e0 = 0, e1 = 0;
    for (size_t i = 0; i + size_t(lag) < frames; ++i) {
      s += x[i] * x[i + size_t(lag)];
      e0 += x[i] * x[i];
      e1 += x[i + size_t(lag)] * x[i + size_t(lag)];
    }
    r[size_t(lag)] = s / std::sqrt(e0 * e1 + 1e-20);
  }
  int best = lo;
  for (int lag = lo; lag <= hi; ++lag)
    if (r[size_t(lag)] > r[size_t(best)]) best = lag;
  double a = r[size_t(best - 1)], b = r[size_t(best)], c = r[size_t(best + 1)];
  double shift = (a - 2 * b + c) != 0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0.0;
  return kRate / (best + shift);
}

TEST(MusicInstruments, AreSixteenBitLoopedWhereTheySustainAndSeamless) {
  music::Song song;
  music::SynthesiseInstruments(song);
  ASSERT_EQ(int(song.instruments.size()), music::kInstrumentCount);
  for (int id : {music::kBass, music::kPad, music::kChoir, music::kLead}) {
    const music::Instrument &ins = song.instruments[size_t(id - 1)];
    ASSERT_GT(ins.loopLength, 1000u) << ins.name;
    ASSERT_EQ(ins.loopStart + ins.loopLength, ins.pcm.size()) << ins.name;
    EXPECT_FALSE(ins.volEnv.points.empty()) << ins.name;
    EXPECT_GE(ins.volEnv.sustain, 0) << ins.name;
    // The frame after the loop's end is the loop's start again: the jump
    // there is no bigger than an ordinary step inside the loop.
    int maxStep = 0;
    for (size_t i = ins.loopStart + 1; i < ins.pcm.size(); ++i)
      maxStep = std::max(maxStep, std::abs(ins.pcm[i] - ins.pcm[i - 1]));
    int seam = std::abs(ins.pcm[ins.loopStart] - ins.pcm.back());
    EXPECT_LE(seam, maxStep) << ins.name;
  }
  for (int id : {music::kKick, music::kSnare, music::kClap, music::kHatClosed, music::kBell, music::kPluck}) {
    const music::Instrument &ins = song.instruments[size_t(id - 1)];
    EXPECT_EQ(ins.loopLength, 0u) << ins.name;
    EXPECT_GT(ins.pcm.size(), 1000u) << ins.name;
    EXPECT_LT(std::abs(ins.pcm.back()), 64) << ins.name << " ends with a click";
  }
  for (const music::Instrument &ins : song.instruments) {
    int peak = 0;
    for (int16_t v : ins.pcm) peak = std::max(peak, std::abs(int(v)));
    EXPECT_GT(peak, 16000) << ins.name << " does not use its 16 bits";
  }
}

TEST(MusicInstruments, TonalInstrumentsPlayInTune) {
  // A small song of our own: each tonal instrument plays A-4 (bass: A-2) alone.
  music::Song song;
  music::SynthesiseInstruments(song);
  song.name = "tuning";
  song.patterns.assign(1, music::Pattern{});
  song.orders = {0};
  struct Probe { int instr, note; double hz; };
  const Probe probes[] = {{music::kPad, 58, 440.0}, {music::kChoir, 58, 440.0}, {music::kLead, 58, 440.0},
                          {music::kPluck, 58, 440.0}, {music::kBass, 34, 110.0}, {music::kLead, 70, 880.0}};
  int row = 0;
  for (const Probe &p : probes) {
    music::Cell &c = song.patterns[0].cells[row][0];
    c.note = uint8_t(p.note);
    c.instr = uint8_t(p.instr);
    c.vol = 48;
    row += 10;
  }
  auto m = Load(music::WriteMO3(song));
  const std::vector<float> pcm = Render(*m);
  row = 0;
  for (const Probe &p : probes) {
    // Measure well after the attack, inside the note's ten rows.
    size_t from = size_t(row * kFramesPerRow + 4 * kFramesPerRow);
    double hz = Pitch(pcm, from, 4 * kFramesPerRow, p.hz / 1.5, p.hz * 1.4);
    double cents = 1200.0 * std::log2(hz / p.hz);
    EXPECT_LT(std::fabs(cents), 8.0) << "instrument " << p.instr << " note " << p.note << ": " << hz << " Hz";
    row += 10;
  }
}

}  // namespace
