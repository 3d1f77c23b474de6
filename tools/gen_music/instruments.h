// Instrument numbers of the show's song (1-based, as the pattern data uses them).
#pragma once

namespace music {

enum InstrumentId {
  kKick = 1,
  kSnare,
  kClap,
  kHatClosed,
  kHatOpen,
  kCrash,
  kRiser,
  kBass,
  kPad,
  kChoir,
  kLead,
  kBell,
  kPluck,
  kInstrumentCountPlusOne
};
constexpr int kInstrumentCount = kInstrumentCountPlusOne - 1;

}  // namespace music
