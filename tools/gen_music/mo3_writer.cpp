// Writes the song inside an MO3 container (version 5, XM type): the music
// data is LZ-compressed with the container's bit-stream scheme, the samples
// follow delta-coded.
#include <algorithm>
#include <cstring>
#include <map>

#include "tools/gen_music/song.h"

namespace music {
namespace {

struct Bytes {
  std::vector<uint8_t> b;
  void u8(unsigned v) { b.push_back(uint8_t(v)); }
  void u16(unsigned v) { u8(v & 0xFF); u8((v >> 8) & 0xFF); }
  void u32(uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
  void i16(int v) { u16(uint16_t(int16_t(v))); }
  void cstr(const std::string &s) { b.insert(b.end(), s.begin(), s.end()); u8(0); }
  void zeros(size_t n) { b.insert(b.end(), n, 0); }
};

// Control bits are packed MSB first, eight to a byte; a control byte is placed
// in the stream at the moment the decoder needs its first bit, so literals and
// offset bytes interleave with the control bytes exactly as they are read.
struct BitStream {
  std::vector<uint8_t> out;
  size_t ctrlPos = 0;
  int ctrlBits = 8;
  void bit(int v) {
    if (ctrlBits == 8) {
      ctrlPos = out.size();
      out.push_back(0);
      ctrlBits = 0;
    }
    if (v) out[ctrlPos] |= uint8_t(0x80 >> ctrlBits);
    ++ctrlBits;
  }
  // Variable-length number >= 2: the bits below the leading 1, each followed
  // by a flag that says whether another bit follows.
  void gamma(uint32_t v) {
    int top = 31;
    while (!(v >> top)) --top;
    for (int i = top - 1; i >= 0; --i) {
      bit((v >> i) & 1);
      bit(i > 0);
    }
  }
  void length(uint32_t code) {  // code >= 1
    if (code <= 3) {
      bit(code >> 1);
      bit(code & 1);
    } else {
      bit(0);
      bit(0);
      gamma(code - 2);
    }
  }
};

constexpr int kMinMatch = 4;
constexpr int kMaxChain = 64;
constexpr uint32_t kWindow = 0xFFFF;

uint32_t LengthBonus(uint32_t distance) {
  return 1 + (distance > 1280 ? 1 : 0) + (distance > 32000 ? 1 : 0);
}

}  // namespace

std::vector<uint8_t> CompressMO3Stream(const std::vector<uint8_t> &data) {
  BitStream s;
  if (data.empty()) return s.out;
  s.out.push_back(data[0]);
  const size_t n = data.size();
  constexpr int kHashBits = 15;
  std::vector<int32_t> head(size_t(1) << kHashBits, -1), prev(n, -1);
  auto hashAt = [&](size_t i) {
    uint32_t h = uint32_t(data[i]) | uint32_t(data[i + 1]) << 8 | uint32_t(data[i + 2]) << 16;
    return (h * 2654435761u) >> (32 - kHashBits);
  };
  auto insert = [&](size_t i) {
    if (i + 2 < n) {
      uint32_t h = hashAt(i);
      prev[i] = head[h];
      head[h] = int32_t(i);
    }
  };
  insert(0);
  uint32_t lastDistance = 0;
  size_t pos = 1;
  while (pos < n) {
    uint32_t bestLen = 0, bestDist = 0;
    // A repeat of the previous distance costs only a few bits.
    if (lastDistance && lastDistance <= pos) {
      uint32_t l = 0;
      while (pos + l < n && data[pos + l] == data[pos + l - lastDistance]) ++l;
      if (l >= 2) { bestLen = l; bestDist = lastDistance; }
    }
    if (pos + 2 < n) {
      int chain = 0;
      for (int32_t cand = head[hashAt(pos)]; cand >= 0 && chain < kMaxChain; cand = prev[cand], ++chain) {
        uint32_t dist = uint32_t(pos - size_t(cand));
        if (dist > kWindow) break;
        uint32_t l = 0;
        while (pos + l < n && data[cand + l] == data[pos + l]) ++l;
        // A new distance must beat a repeat by enough to pay for its offset byte.
        if (l >= uint32_t(kMinMatch) && l > bestLen + (bestDist == lastDistance && bestLen ? 2 : 0)) {
          bestLen = l;
          bestDist = dist;
        }
      }
    }
    if (bestLen == 0) {
      s.bit(0);
      s.out.push_back(data[pos]);
      insert(pos);
      ++pos;
      continue;
    }
    s.bit(1);
    if (bestDist == lastDistance) {
      s.bit(0);
      s.bit(0);
      s.length(bestLen);
    } else {
      uint32_t x = bestDist - 1;
      s.gamma((x >> 8) + 3);
      s.out.push_back(uint8_t(x & 0xFF));
      s.length(bestLen - LengthBonus(bestDist));
      lastDistance = bestDist;
    }
    for (uint32_t k = 0; k < bestLen; ++k) insert(pos + k);
    pos += bestLen;
  }
  return s.out;
}

namespace {

// Delta-coded 16-bit sample data: each difference to the previous value is
// folded to an unsigned number (sign in bit 0), whose low `dh` bits are sent
// as they are and whose high part goes first in a variable-length prefix;
// `dh` follows the size of the recent differences.
std::vector<uint8_t> DeltaCode(const std::vector<int16_t> &pcm) {
  std::vector<uint8_t> out;
  int used = 8;
  auto bit = [&](unsigned v) {
    if (used == 8) {
      out.push_back(0);
      used = 0;
    }
    if (v & 1) out.back() |= uint8_t(0x80 >> used);
    ++used;
  };
  unsigned dh = 8;
  int16_t previous = 0;
  for (int16_t sample : pcm) {
    const int16_t d = int16_t(uint16_t(uint16_t(sample) - uint16_t(previous)));
    const uint32_t v = d >= 0 ? uint32_t(d) * 2 + 1 : uint32_t(~d) * 2;
    const uint32_t high = v >> dh;
    int len = 0;
    while ((high >> len) != 0) ++len;
    const int step = dh < 5 ? 2 : 1;
    const int groups = std::max(1, (len + step - 1) / step);
    for (int g = groups - 1; g >= 0; --g) {
      for (int b = step - 1; b >= 0; --b) bit(high >> (g * step + b));
      bit(g > 0);
    }
    for (int b = int(dh) - 1; b >= 0; --b) bit(v >> b);
    unsigned cl = 1;
    if (v >= 4) {
      cl = 15;
      while (!((1u << cl) & v) && cl > 1) --cl;
    }
    dh = (dh + cl) >> 1;
    previous = sample;
  }
  return out;
}

// MO3 command codes for the XM effects the composer uses.
uint8_t Mo3Effect(uint8_t fx) {
  switch (fx) {
    case kFxArpeggio: return 0x03;
    case kFxPortaUp: return 0x04;
    case kFxPortaDown: return 0x05;
    case kFxVibrato: return 0x07;
    case kFxPanning: return 0x0B;
    case kFxVolSlide: return 0x0D;
    case kFxExtended: return 0x11;
    case kFxSpeedTempo: return 0x12;
    case kFxGlobalVol: return 0x16;
    case kFxGlobalVolSlide: return 0x17;
    default: return 0;
  }
}

std::vector<uint8_t> EncodeTrack(const Pattern &p, int channel) {
  std::vector<uint8_t> t;
  int last = kRows - 1;
  while (last >= 0 && p.cells[last][channel].empty()) --last;
  int row = 0;
  while (row <= last) {
    const Cell &c = p.cells[row][channel];
    int rep = 1;
    while (rep < 15 && row + rep <= last && p.cells[row + rep][channel] == c) ++rep;
    std::vector<uint8_t> cmds;
    if (c.note) { cmds.push_back(0x01); cmds.push_back(c.note == kKeyOff ? 0xFF : uint8_t(c.note - 1)); }
    if (c.instr) { cmds.push_back(0x02); cmds.push_back(uint8_t(c.instr - 1)); }
    if (c.vol >= 0) { cmds.push_back(0x0F); cmds.push_back(uint8_t(c.vol)); }
    if (c.fx != kFxNone) {
      uint8_t code = Mo3Effect(c.fx);
      if (code) { cmds.push_back(code); cmds.push_back(c.param); }
    }
    t.push_back(uint8_t(rep << 4 | (cmds.size() / 2)));
    t.insert(t.end(), cmds.begin(), cmds.end());
    row += rep;
  }
  t.push_back(0);
  return t;
}

void WriteEnvelope(Bytes &o, const Envelope &env) {
  const size_t n = std::min<size_t>(env.points.size(), 25);
  uint8_t flags = 0;
  if (n) flags |= 0x01;
  if (n && env.sustain >= 0) flags |= 0x02;
  o.u8(flags);
  o.u8(unsigned(n));
  o.u8(env.sustain >= 0 ? env.sustain : 0);
  o.u8(env.sustain >= 0 ? env.sustain : 0);
  o.u8(0);
  o.u8(0);
  for (size_t i = 0; i < 25; ++i) {
    if (i < n) {
      o.i16(env.points[i].tick);
      o.i16(env.points[i].value);
    } else {
      o.i16(0);
      o.i16(0);
    }
  }
}

}  // namespace

std::vector<uint8_t> WriteMO3(const Song &song) {
  // Tracks: one per distinct channel column, shared between patterns.
  std::vector<std::vector<uint8_t>> tracks;
  std::map<std::vector<uint8_t>, uint16_t> trackIndex;
  std::vector<uint16_t> patternTracks;
  for (const Pattern &p : song.patterns) {
    for (int c = 0; c < kChannels; ++c) {
      std::vector<uint8_t> t = EncodeTrack(p, c);
      auto it = trackIndex.find(t);
      if (it == trackIndex.end()) {
        it = trackIndex.emplace(t, uint16_t(tracks.size())).first;
        tracks.push_back(t);
      }
      patternTracks.push_back(it->second);
    }
  }

  Bytes m;
  m.cstr(song.name);
  m.cstr("");  // song message
  m.u8(kChannels);
  m.u16(unsigned(song.orders.size()));
  m.u16(0);  // restart position
  m.u16(unsigned(song.patterns.size()));
  m.u16(unsigned(tracks.size()));
  m.u16(unsigned(song.instruments.size()));
  m.u16(unsigned(song.instruments.size()));  // one sample per instrument
  m.u8(kSpeed);
  m.u8(kTempo);
  m.u32(0x0001 | 0x20000);  // linear slides; the module flag every MO3 carries
  m.u8(64);                 // global volume (read for IT/S3M only)
  m.u8(128);                // pan separation
  m.u8(uint8_t(-4));        // sample volume: pre-amp 48, the same as the XM loader uses
  for (int i = 0; i < 64; ++i) m.u8(64);
  for (int i = 0; i < 64; ++i) m.u8(128);
  m.zeros(16 + 128 * 2);  // no MIDI macros
  for (uint8_t o : song.orders) m.u8(o);
  for (uint16_t t : patternTracks) m.u16(t);
  for (size_t p = 0; p < song.patterns.size(); ++p) m.u16(kRows);
  for (const auto &t : tracks) {
    m.u32(uint32_t(t.size()));
    m.b.insert(m.b.end(), t.begin(), t.end());
  }

  for (size_t i = 0; i < song.instruments.size(); ++i) {
    const Instrument &ins = song.instruments[i];
    m.cstr(ins.name);
    m.cstr("");
    m.u32(0);
    for (int note = 0; note < 120; ++note) {
      m.u16(note);
      m.u16(unsigned(i));
    }
    WriteEnvelope(m, ins.volEnv);
    WriteEnvelope(m, Envelope{});
    WriteEnvelope(m, Envelope{});
    m.u8(ins.vibType); m.u8(ins.vibSweep); m.u8(ins.vibDepth); m.u8(ins.vibRate);
    m.u16(ins.fadeout);
    m.u8(0); m.u8(0); m.u8(0); m.u8(0);  // no MIDI
    m.u8(128);                            // instrument global volume (IT only)
    m.u16(0xFFFF);                        // no instrument panning
    m.u8(0); m.u8(0); m.u8(0); m.u8(0); m.u8(0);
    m.u16(0); m.u16(0);
    m.u8(0); m.u8(0);
  }
  std::vector<std::vector<uint8_t>> sampleData;
  for (const Instrument &ins : song.instruments) sampleData.push_back(DeltaCode(ins.pcm));
  for (size_t i = 0; i < song.instruments.size(); ++i) {
    const Instrument &ins = song.instruments[i];
    m.cstr(ins.name);
    m.cstr("");
    m.u32(uint32_t(int32_t(ins.finetune) + 128));
    m.u8(uint8_t(ins.relativeNote));
    m.u8(ins.volume);
    m.u16(ins.panning);
    m.u32(uint32_t(ins.pcm.size()));
    m.u32(ins.loopStart);
    m.u32(ins.loopStart + ins.loopLength);
    m.u16(0x01 | (ins.loopLength ? 0x10 : 0) | 0x2000);  // 16-bit, loop, delta-coded
    m.u8(0); m.u8(0); m.u8(0); m.u8(0);  // vibrato comes from the instrument
    m.u8(unsigned(i + 1));
    m.u32(0); m.u32(0);
    m.u32(uint32_t(sampleData[i].size()));
    m.u16(0);
  }

  const std::vector<uint8_t> packed = CompressMO3Stream(m.b);
  Bytes f;
  f.b = {'M', 'O', '3', 5};
  f.u32(uint32_t(m.b.size()));
  f.u32(uint32_t(packed.size()));
  f.b.insert(f.b.end(), packed.begin(), packed.end());
  for (const auto &d : sampleData) f.b.insert(f.b.end(), d.begin(), d.end());
  return f.b;
}

}  // namespace music
