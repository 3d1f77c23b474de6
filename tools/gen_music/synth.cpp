// Synthesises the song's instruments: drums from filtered noise and swept
// sines, tonal voices from band-limited additive wavetables with exact
// integer-cycle loops, bells and plucks from decaying partials.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "tools/gen_music/instruments.h"
#include "tools/gen_music/song.h"

namespace music {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNominalRate = 44100.0;

// Deterministic noise: xorshift32, uniform in [-1, 1).
struct Noise {
  uint32_t s;
  explicit Noise(uint32_t seed) : s(seed ? seed : 1) {}
  double next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return double(s) / 2147483648.0 - 1.0;
  }
};

// Trapezoidal state-variable filter (low, band and high outputs), stable at
// any cutoff below Nyquist.
struct Svf {
  double s1 = 0, s2 = 0, low = 0, band = 0, high = 0;
  void run(double in, double cutoff, double q, double rate) {
    double g = std::tan(kPi * std::min(cutoff, rate * 0.45) / rate), k = 1.0 / q;
    high = (in - (g + k) * s1 - s2) / (1.0 + g * (g + k));
    band = g * high + s1;
    s1 = g * high + band;
    low = g * band + s2;
    s2 = g * band + low;
  }
};

// Sets the sample's relative note and finetune so that XM note baseNote plays
// the sample at close to 44.1 kHz, and returns the exact rate that results;
// the sample is then synthesised at that rate so that it is in tune.
double Tune(Instrument &ins, int baseNote) {
  const double semis = 12.0 * std::log2(kNominalRate / 8363.0) - (baseNote - 49);
  int units = int(std::lround(semis * 64.0)) * 2;  // 1/128 semitone, even
  int rel = int(std::lround(units / 128.0));
  int fine = units - rel * 128;
  ins.relativeNote = int8_t(rel);
  ins.finetune = int8_t(fine);
  return 8363.0 * std::pow(2.0, (baseNote - 49 + units / 128.0) / 12.0);
}

double NoteHz(int xmNote) { return 440.0 * std::pow(2.0, (xmNote - 58) / 12.0); }

void Store(Instrument &ins, const std::vector<double> &v, double peak = 0.89) {
  double m = 1e-9;
  for (double x : v) m = std::max(m, std::fabs(x));
  ins.pcm.resize(v.size());
  for (size_t i = 0; i < v.size(); ++i)
    ins.pcm[i] = int16_t(std::lround(v[i] / m * peak * 32767.0));
}

// Gentle fade over the last few milliseconds so one-shots end at zero.
void FadeTail(std::vector<double> &v, double rate, double seconds = 0.01) {
  size_t n = std::min(v.size(), size_t(rate * seconds));
  for (size_t i = 0; i < n; ++i) v[v.size() - 1 - i] *= double(i) / double(n);
}

// ---- tonal voices with loops -------------------------------------------

using Spectrum = std::vector<double>;  // amplitude of harmonic h at index h-1

constexpr int kTable = 4096;

std::vector<double> Wavetable(const Spectrum &s) {
  std::vector<double> t(kTable + 1, 0.0);
  for (size_t h = 0; h < s.size(); ++h) {
    if (s[h] == 0.0) continue;
    for (int i = 0; i < kTable; ++i)
      t[i] += s[h] * std::sin(2.0 * kPi * double(h + 1) * i / kTable);
  }
  double m = 1e-9;
  for (int i = 0; i < kTable; ++i) m = std::max(m, std::fabs(t[i]));
  for (double &x : t) x /= m;
  t[kTable] = t[0];
  return t;
}

double Lookup(const std::vector<double> &t, double phase) {
  double p = phase * kTable;
  int i = int(p);
  double f = p - i;
  return t[i] + (t[i + 1] - t[i]) * f;
}

// Spectrum of a band-limited saw/square mix through a low-pass of the given
// order, with harmonics stopping at maxHz.
Spectrum Analog(double f0, double sawMix, double cutoff, int order, double maxHz) {
  Spectrum s;
  for (int h = 1; h * f0 < maxHz; ++h) {
    double a = sawMix / h + ((h & 1) ? (1.0 - sawMix) / h : 0.0);
    a /= std::sqrt(1.0 + std::pow(h * f0 / cutoff, 2.0 * order));
    s.push_back(a);
  }
  return s;
}

struct Osc {
  int detune;  // extra cycles per loop
  double gain;
  double phase;
};

// A sustained tone: an attack of `attackSeconds` that morphs from the bright
// to the steady spectrum, then a loop of about `loopSeconds` in which every
// oscillator completes a whole number of cycles, so the loop is seamless.
void LoopedTone(Instrument &ins, int baseNote, const Spectrum &bright, const Spectrum &steady,
                const std::vector<Osc> &oscs, double attackSeconds, double loopSeconds) {
  const double rate = Tune(ins, baseNote);
  const double f0 = NoteHz(baseNote);
  const int cycles = std::max(1, int(std::lround(f0 * loopSeconds)));
  const int loopLen = int(std::lround(cycles * rate / f0));
  const int pre = int(attackSeconds * rate);
  const std::vector<double> wb = Wavetable(bright), ws = Wavetable(steady);
  std::vector<double> v(size_t(pre + loopLen));
  for (int i = 0; i < pre + loopLen; ++i) {
    double c = i < pre ? (1.0 - double(i) / pre) : 0.0;
    c *= c;
    double x = 0.0;
    for (const Osc &o : oscs) {
      int64_t k = cycles + o.detune;
      double ph = double((k * i) % loopLen) / loopLen + o.phase;
      ph -= std::floor(ph);
      x += o.gain * ((1.0 - c) * Lookup(ws, ph) + c * Lookup(wb, ph));
    }
    v[size_t(i)] = x;
  }
  Store(ins, v, 0.85);
  ins.loopStart = uint32_t(pre);
  ins.loopLength = uint32_t(loopLen);
}

// Harmonic amplitudes shaped by vocal formants, for the choir pad.
Spectrum Formants(double f0, double maxHz) {
  const double fc[3] = {730, 1090, 2440}, bw[3] = {90, 110, 160}, g[3] = {1.0, 0.5, 0.25};
  Spectrum s;
  for (int h = 1; h * f0 < maxHz; ++h) {
    double f = h * f0, a = 0.0;
    for (int k = 0; k < 3; ++k) a += g[k] / (1.0 + std::pow((f - fc[k]) / bw[k] / 2.5, 2.0));
    s.push_back((a + 0.15 / h) / std::sqrt(double(h)));
  }
  return s;
}

// ---- decaying partials ----------------------------------------------------

struct Partial {
  double ratio, amp, decay;  // decay: seconds to 1/e
};

void Partials(Instrument &ins, int baseNote, const std::vector<Partial> &ps, double seconds,
              double attackSeconds) {
  const double rate = Tune(ins, baseNote);
  const double f0 = NoteHz(baseNote);
  const size_t n = size_t(seconds * rate);
  std::vector<double> v(n, 0.0);
  for (const Partial &p : ps) {
    double f = f0 * p.ratio;
    if (f > 16000.0) continue;
    double c = std::cos(2 * kPi * f / rate), s = std::sin(2 * kPi * f / rate);
    double re = 1.0, im = 0.0, a = p.amp, d = std::exp(-1.0 / (p.decay * rate));
    for (size_t i = 0; i < n; ++i) {
      v[i] += a * im;
      double nr = re * c - im * s;
      im = re * s + im * c;
      re = nr;
      a *= d;
    }
  }
  const size_t att = size_t(attackSeconds * rate);
  for (size_t i = 0; i < att && i < n; ++i) v[i] *= double(i) / double(att);
  FadeTail(v, rate, 0.05);
  Store(ins, v);
}

// ---- drums --------------------------------------------------------------

void Kick(Instrument &ins) {
  const double rate = Tune(ins, 49);
  const size_t n = size_t(0.5 * rate);
  std::vector<double> v(n);
  Noise noise(11);
  double ph = 0.0;
  for (size_t i = 0; i < n; ++i) {
    double t = i / rate;
    double f = 44.0 + 120.0 * std::exp(-t / 0.035) + 40.0 * std::exp(-t / 0.006);
    ph += 2 * kPi * f / rate;
    double body = std::sin(ph) * std::exp(-t / 0.28) * std::min(1.0, t / 0.0015);
    double click = noise.next() * std::exp(-t / 0.003) * 0.3;
    v[i] = std::tanh(1.6 * (body + click));
  }
  FadeTail(v, rate, 0.05);
  Store(ins, v);
}

void Snare(Instrument &ins) {
  const double rate = Tune(ins, 49);
  const size_t n = size_t(0.4 * rate);
  std::vector<double> v(n);
  Noise noise(23);
  Svf hp, lp;
  double p1 = 0, p2 = 0;
  for (size_t i = 0; i < n; ++i) {
    double t = i / rate;
    p1 += 2 * kPi * (180.0 + 40 * std::exp(-t / 0.01)) / rate;
    p2 += 2 * kPi * 330.0 / rate;
    double tone = (std::sin(p1) + 0.5 * std::sin(p2)) * std::exp(-t / 0.05);
    hp.run(noise.next(), 500.0, 0.7, rate);
    lp.run(hp.high, 8000.0, 0.7, rate);
    double sn = lp.low * std::exp(-t / 0.13);
    v[i] = 0.55 * tone + 1.1 * sn;
  }
  FadeTail(v, rate, 0.05);
  Store(ins, v);
}

void Clap(Instrument &ins) {
  const double rate = Tune(ins, 49);
  const size_t n = size_t(0.35 * rate);
  std::vector<double> v(n);
  Noise noise(37);
  Svf bp;
  for (size_t i = 0; i < n; ++i) {
    double t = i / rate;
    double env = 0.0;
    for (int k = 0; k < 3; ++k) {
      double tk = t - 0.011 * k;
      if (tk >= 0) env = std::max(env, std::exp(-tk / 0.006));
    }
    if (t >= 0.022) env = std::max(env, std::exp(-(t - 0.022) / 0.09));
    bp.run(noise.next(), 1300.0, 2.0, rate);
    v[i] = bp.band * env;
  }
  FadeTail(v, rate, 0.03);
  Store(ins, v);
}

// Metallic hats: inharmonic square waves plus noise through a high-pass.
void Hat(Instrument &ins, double decay, double seconds, uint32_t seed) {
  const double rate = Tune(ins, 49);
  const size_t n = size_t(seconds * rate);
  const double freqs[6] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
  std::vector<double> v(n);
  Noise noise(seed);
  Svf hp1, hp2;
  double ph[6] = {0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < n; ++i) {
    double t = i / rate, metal = 0.0;
    for (int k = 0; k < 6; ++k) {
      ph[k] += freqs[k] * 1.7 / rate;
      metal += (ph[k] - std::floor(ph[k])) < 0.5 ? 1.0 : -1.0;
    }
    double x = 0.5 * metal / 6.0 + noise.next();
    hp1.run(x, 7000.0, 0.8, rate);
    hp2.run(hp1.high, 7500.0, 0.8, rate);
    v[i] = hp2.high * std::exp(-t / decay) * std::min(1.0, t / 0.0005);
  }
  FadeTail(v, rate, 0.02);
  Store(ins, v);
}

void Crash(Instrument &ins) {
  const double rate = Tune(ins, 49);
  const size_t n = size_t(2.2 * rate);
  std::vector<double> v(n);
  Noise noise(51);
  Svf hp, lp;
  for (size_t i = 0; i < n; ++i) {
    double t = i / rate;
    hp.run(noise.next(), 3000.0, 0.7, rate);
    lp.run(hp.high, 12000.0 - 6000.0 * std::min(1.0, t / 2.0), 0.7, rate);
    v[i] = lp.low * (0.6 * std::exp(-t / 0.5) + 0.4 * std::exp(-t / 0.06)) * std::min(1.0, t / 0.001);
  }
  FadeTail(v, rate, 0.2);
  Store(ins, v);
}

// Reverse-swell noise for builds: 1.92 s (16 rows) rising in level and pitch.
void Riser(Instrument &ins) {
  const double rate = Tune(ins, 49);
  const double len = 1.92;
  const size_t n = size_t(len * rate);
  std::vector<double> v(n);
  Noise noise(77);
  Svf bp;
  for (size_t i = 0; i < n; ++i) {
    double t = i / rate, u = t / len;
    bp.run(noise.next(), 400.0 * std::pow(20.0, u), 1.6, rate);
    v[i] = bp.band * u * u;
  }
  FadeTail(v, rate, 0.02);
  Store(ins, v);
}

}  // namespace

void SynthesiseInstruments(Song &song) {
  song.instruments.assign(kInstrumentCount, Instrument{});
  auto at = [&](int id) -> Instrument & { return song.instruments[size_t(id - 1)]; };

  at(kKick).name = "kick";
  Kick(at(kKick));
  at(kSnare).name = "snare";
  Snare(at(kSnare));
  at(kClap).name = "clap";
  Clap(at(kClap));
  at(kHatClosed).name = "closed hat";
  Hat(at(kHatClosed), 0.035, 0.15, 91);
  at(kHatOpen).name = "open hat";
  Hat(at(kHatOpen), 0.25, 0.7, 93);
  at(kCrash).name = "crash";
  Crash(at(kCrash));
  at(kRiser).name = "riser";
  Riser(at(kRiser));

  {  // Bass: a bright saw pluck settling to a round, looped tone.
    Instrument &b = at(kBass);
    b.name = "bass";
    const int base = 25;  // C-2
    const double f0 = NoteHz(base);
    Spectrum bright = Analog(f0, 0.8, 1800.0, 2, 5000.0);
    Spectrum steady = Analog(f0, 0.8, 420.0, 2, 5000.0);
    steady[0] *= 1.6;
    bright[0] *= 1.6;
    LoopedTone(b, base, bright, steady, {{0, 1.0, 0.0}}, 0.35, 1.0);
    b.volEnv.points = {{0, 64}, {8, 52}, {40, 44}};
    b.volEnv.sustain = 2;
    b.fadeout = 2400;
  }
  {  // Pad: five detuned saws through a soft low-pass, a two-second loop.
    Instrument &p = at(kPad);
    p.name = "pad";
    const int base = 49;
    const double f0 = NoteHz(base);
    Spectrum s = Analog(f0, 1.0, 1400.0, 2, 9000.0);
    LoopedTone(p, base, s, s,
               {{-3, 0.5, 0.1}, {-1, 0.8, 0.37}, {0, 1.0, 0.0}, {1, 0.8, 0.61}, {3, 0.5, 0.83}}, 0.05,
               2.0);
    p.volEnv.points = {{0, 0}, {40, 64}, {60, 60}};
    p.volEnv.sustain = 2;
    p.fadeout = 900;
  }
  {  // Choir: formant-shaped harmonics, slow vibrato-free chorus.
    Instrument &c = at(kChoir);
    c.name = "choir";
    const int base = 49;
    const double f0 = NoteHz(base);
    Spectrum s = Formants(f0, 8000.0);
    LoopedTone(c, base, s, s, {{-1, 0.8, 0.2}, {0, 1.0, 0.0}, {2, 0.7, 0.5}}, 0.05, 2.0);
    c.volEnv.points = {{0, 0}, {25, 64}};
    c.volEnv.sustain = 1;
    c.fadeout = 700;
  }
  {  // Lead: square/saw mix with a brighter attack and a delayed vibrato.
    Instrument &l = at(kLead);
    l.name = "lead";
    const int base = 61;  // C-5
    const double f0 = NoteHz(base);
    Spectrum bright = Analog(f0, 0.4, 5000.0, 2, 10500.0);
    Spectrum steady = Analog(f0, 0.4, 2600.0, 2, 10500.0);
    LoopedTone(l, base, bright, steady, {{0, 1.0, 0.0}, {1, 0.6, 0.3}}, 0.12, 1.0);
    l.volEnv.points = {{0, 0}, {2, 64}, {12, 50}};
    l.volEnv.sustain = 2;
    l.fadeout = 1600;
    l.vibType = 0;
    l.vibSweep = 60;
    l.vibDepth = 3;
    l.vibRate = 14;
  }
  at(kBell).name = "bell";
  Partials(at(kBell), 61,
           {{1.0, 1.0, 1.4}, {2.0, 0.35, 0.9}, {2.76, 0.5, 0.6}, {4.07, 0.25, 0.35},
            {5.40, 0.18, 0.22}, {8.93, 0.08, 0.1}, {0.5, 0.12, 1.8}},
           2.6, 0.002);
  {  // Pluck: harmonics whose decay shortens with their number.
    std::vector<Partial> ps;
    for (int h = 1; h <= 24; ++h)
      ps.push_back({double(h), (h & 1 ? 1.0 : 0.6) / h, 0.9 / (1.0 + 0.45 * (h - 1))});
    at(kPluck).name = "pluck";
    Partials(at(kPluck), 49, ps, 1.3, 0.001);
  }
  // Sample default volumes set the mix; pattern volumes shape it further.
  const uint8_t volumes[kInstrumentCount] = {60, 44, 36, 26, 22, 22, 30, 52, 30, 30, 34, 36, 34};
  const uint8_t pans[kInstrumentCount] = {128, 128, 140, 150, 112, 128, 128, 128, 128, 128, 128, 128, 128};
  for (int i = 0; i < kInstrumentCount; ++i) {
    song.instruments[size_t(i)].volume = volumes[i];
    song.instruments[size_t(i)].panning = pans[i];
  }
}

}  // namespace music
