// The sync meter's analysis: block-wise normalised cross-correlation of the
// recorded sound with the song (FFTW), both low-passed below the markers,
// marker bursts found by demodulating the recording at the marker tone, the
// offsets of the position code, and the window after an event.
#include "tools/sync_meter/analysis.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>

#include "platform/song_walk.h"

namespace syncmeter {
namespace {

// Samples per block compared with the song, and the step between blocks.
constexpr int kBlock = 4096;
constexpr int kHop = 2048;
// Correlation a block needs to count as found in the song.
constexpr double kMatchLevel = 0.7;
// A block quieter than this (RMS) holds no music to find.
constexpr double kSoundLevel = 1e-3;

// Cross-correlation of one recorded block with a stretch of the song over a
// range of lags, through FFTs of one size.
class Correlator {
 public:
  explicit Correlator(int size) : size_(size) {
    in_ = fftwf_alloc_real(size);
    out_ = fftwf_alloc_real(size);
    block_ = fftwf_alloc_complex(size / 2 + 1);
    song_ = fftwf_alloc_complex(size / 2 + 1);
    forward_ = fftwf_plan_dft_r2c_1d(size, in_, song_, FFTW_ESTIMATE);
    backward_ = fftwf_plan_dft_c2r_1d(size, song_, out_, FFTW_ESTIMATE);
  }
  ~Correlator() {
    fftwf_destroy_plan(forward_);
    fftwf_destroy_plan(backward_);
    fftwf_free(in_);
    fftwf_free(out_);
    fftwf_free(block_);
    fftwf_free(song_);
  }
  int size() const { return size_; }

  // Sets the block (count samples, count < size).
  void SetBlock(const float* samples, int count) {
    std::fill(in_, in_ + size_, 0.0f);
    std::copy(samples, samples + count, in_);
    fftwf_execute_dft_r2c(forward_, in_, block_);
    blockLength_ = count;
  }

  // out[m] = sum over n of block[n] * song[m + n], for m in [0, size - block).
  const float* Correlate(const float* song) {
    std::copy(song, song + size_, in_);
    fftwf_execute_dft_r2c(forward_, in_, song_);
    const int bins = size_ / 2 + 1;
    for (int k = 0; k < bins; ++k) {
      const float ar = block_[k][0], ai = -block_[k][1];
      const float br = song_[k][0], bi = song_[k][1];
      song_[k][0] = (ar * br - ai * bi) / size_;
      song_[k][1] = (ar * bi + ai * br) / size_;
    }
    fftwf_execute_dft_c2r(backward_, song_, out_);
    return out_;
  }
  int lags() const { return size_ - blockLength_; }

 private:
  int size_;
  int blockLength_ = 0;
  float* in_;
  float* out_;
  fftwf_complex* block_;
  fftwf_complex* song_;
  fftwf_plan forward_;
  fftwf_plan backward_;
};

struct Match {
  int64_t songFrame = -1;  // where the block starts in the song
  double level = 0.0;      // normalised correlation there
};

class SongSearch {
 public:
  explicit SongSearch(const std::vector<float>& song) : song_(song), correlator_(4 * kBlock) {
    energy_.resize(song.size() + 1, 0.0);
    for (size_t i = 0; i < song.size(); ++i) energy_[i + 1] = energy_[i] + double(song[i]) * song[i];
  }

  // The best start in the song, in [from, to], for the block of recorded samples.
  Match Find(const float* block, int64_t from, int64_t to) {
    Match best;
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, static_cast<int64_t>(song_.size()) - kBlock);
    if (to < from) return best;
    double blockEnergy = 0.0;
    for (int i = 0; i < kBlock; ++i) blockEnergy += double(block[i]) * block[i];
    if (blockEnergy <= 0.0) return best;
    correlator_.SetBlock(block, kBlock);
    std::vector<float> stretch(correlator_.size());
    for (int64_t start = from; start <= to; start += correlator_.lags()) {
      for (int i = 0; i < correlator_.size(); ++i) {
        const int64_t at = start + i;
        stretch[i] = at < static_cast<int64_t>(song_.size()) ? song_[at] : 0.0f;
      }
      const float* out = correlator_.Correlate(stretch.data());
      for (int m = 0; m < correlator_.lags() && start + m <= to; ++m) {
        const int64_t at = start + m;
        const double songEnergy = energy_[at + kBlock] - energy_[at];
        if (songEnergy <= 1e-12) continue;
        const double level = out[m] / std::sqrt(blockEnergy * songEnergy);
        if (level > best.level) {
          best.level = level;
          best.songFrame = at;
        }
      }
    }
    return best;
  }

 private:
  const std::vector<float>& song_;
  std::vector<double> energy_;
  Correlator correlator_;
};

Spread SpreadOf(std::vector<double> values) {
  Spread spread;
  spread.count = static_cast<int>(values.size());
  if (values.empty()) return spread;
  std::sort(values.begin(), values.end());
  auto at = [&](double q) {
    const double index = q * (values.size() - 1);
    const size_t below = static_cast<size_t>(index);
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (index - below);
  };
  spread.median = at(0.5);
  spread.low = at(0.1);
  spread.high = at(0.9);
  return spread;
}

double Median(std::vector<double> values) { return SpreadOf(std::move(values)).median; }

// A stream's clock read many times: at each reading, the moment its frame 0
// would have sounded (or been captured). A stream that runs dry or
// overflows moves on against its frames, so the origin is taken from the
// readings around the moment asked for.
class StreamOrigin {
 public:
  void Add(double nanos, double origin) { readings_.push_back({nanos, origin}); }
  bool empty() const { return readings_.empty(); }
  double Global() const {
    std::vector<double> values;
    for (const auto& r : readings_) values.push_back(r.second);
    return Median(values);
  }
  // The median origin over the readings within span of the moment (1.5 s
  // unless said), the global one when there are none.
  double Near(double nanos, double span = 1.5e9, int* count = nullptr) const {
    std::vector<double> values;
    auto first = std::lower_bound(readings_.begin(), readings_.end(), std::make_pair(nanos - span, -1e300));
    for (auto it = first; it != readings_.end() && it->first <= nanos + span; ++it) values.push_back(it->second);
    if (count != nullptr) *count = static_cast<int>(values.size());
    return values.empty() ? Global() : Median(values);
  }

 private:
  std::vector<std::pair<double, double>> readings_;  // in time order
};

// The envelope of the marker tone in the recording: demodulated, then
// smoothed twice over one burst's length.
std::vector<float> MarkerEnvelope(const std::vector<float>& mono, int rate) {
  const size_t n = mono.size();
  const int width = rate * kMarkerBurstMillis / 1000;
  std::vector<double> re(n), im(n);
  const double step = 2.0 * M_PI * MarkerHz(rate) / rate;
  for (size_t i = 0; i < n; ++i) {
    re[i] = mono[i] * std::cos(step * static_cast<double>(i));
    im[i] = -mono[i] * std::sin(step * static_cast<double>(i));
  }
  auto smooth = [&](std::vector<double>& v) {
    std::vector<double> sum(n + 1, 0.0);
    for (size_t i = 0; i < n; ++i) sum[i + 1] = sum[i] + v[i];
    for (size_t i = 0; i < n; ++i) {
      const size_t lo = i >= static_cast<size_t>(width / 2) ? i - width / 2 : 0;
      const size_t hi = std::min(n, lo + width);
      v[i] = (sum[hi] - sum[lo]) / width;
    }
  };
  for (int pass = 0; pass < 2; ++pass) {
    smooth(re);
    smooth(im);
  }
  std::vector<float> envelope(n);
  for (size_t i = 0; i < n; ++i) envelope[i] = static_cast<float>(std::sqrt(re[i] * re[i] + im[i] * im[i]));
  return envelope;
}

// A fourth-order Butterworth low-pass at 18 kHz (two biquads): applied to
// the recording and to the song alike, it leaves the music's alignment
// as it was and takes the marker bursts out of it (77 dB down at 21.6 kHz
// at 44.1 kHz, 64 dB at 23 kHz at 48 kHz).
std::vector<float> LowPass(const std::vector<float>& in, int rate) {
  std::vector<float> out(in);
  const double w0 = 2.0 * M_PI * std::min(18000.0, 0.4 * rate) / rate;
  for (double q : {0.5412, 1.3066}) {
    const double alpha = std::sin(w0) / (2.0 * q);
    const double c = std::cos(w0);
    const double a0 = 1.0 + alpha;
    const double b0 = (1.0 - c) / 2.0 / a0, b1 = (1.0 - c) / a0, b2 = b0;
    const double a1 = -2.0 * c / a0, a2 = (1.0 - alpha) / a0;
    double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
    for (float& sample : out) {
      const double x = sample;
      const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1;
      x1 = x;
      y2 = y1;
      y1 = y;
      sample = static_cast<float>(y);
    }
  }
  return out;
}

double Rms(const std::vector<float>& samples, int64_t from, int64_t count) {
  if (from < 0 || from + count > static_cast<int64_t>(samples.size())) return 0.0;
  double energy = 0.0;
  for (int64_t i = from; i < from + count; ++i) energy += double(samples[i]) * samples[i];
  return std::sqrt(energy / count);
}

}  // namespace

bool RenderReference(const std::string& moduleFile, int rate, Reference* reference, std::string* why) {
  std::ifstream in(moduleFile, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  openmpt_module* module = bytes.empty() ? nullptr : OpenSongModule(bytes.data(), bytes.size());
  if (module == nullptr) {
    *why = "cannot play the song " + moduleFile;
    return false;
  }
  SilentSong song;
  StartSilentSong(&song, module, rate, true);
  reference->rate = rate;
  reference->mono.clear();
  reference->rowStart.clear();
  // Small steps, so that a row's first frame is known to a third of a millisecond.
  constexpr int kStep = 16;
  float chunk[2 * kStep];
  ShowPosition last = song.position;
  reference->rowStart[{last.order, last.row}] = 0;
  while (!song.ended) {
    const int64_t start = static_cast<int64_t>(reference->mono.size());
    const int64_t got = AdvanceSilentSong(&song, kStep, chunk);
    for (int64_t i = 0; i < got; ++i) reference->mono.push_back(0.5f * (chunk[2 * i] + chunk[2 * i + 1]));
    if (got < kStep) break;
    if (song.position.order != last.order || song.position.row != last.row) {
      last = song.position;
      reference->rowStart.emplace(std::make_pair(last.order, last.row), start + kStep / 2);
    }
  }
  CloseSongModule(module);
  return true;
}

double RowSeconds(const Reference& reference, int order, int row) {
  auto found = reference.rowStart.find({order, row});
  if (found == reference.rowStart.end()) return -1.0;
  return static_cast<double>(found->second) / reference.rate;
}

bool Analyse(const Recording& recording, const Reference& reference, double songFrom, const Window& window,
             Report* report, std::string* why, FILE* details) {
  *report = Report();
  const int rate = recording.rate;
  if (reference.rate != rate) {
    *why = "the song was rendered at another rate than the recording's";
    return false;
  }
  const std::vector<float> heard = LowPass(recording.mono, rate);
  const std::vector<float> song = LowPass(reference.mono, rate);
  report->recordedSeconds = static_cast<double>(heard.size()) / rate;
  if (recording.audioTiming.empty()) {
    *why = "the recording has no sound timing";
    return false;
  }

  // When each recorded frame was captured: frame i at origin + i / rate.
  StreamOrigin recordOrigin;
  for (const AudioTiming& t : recording.audioTiming) {
    recordOrigin.Add(t.nanos, static_cast<double>(t.nanos) - t.latencyMicros * 1e3 - t.framesRead * 1e9 / rate);
  }
  const double soundOrigin = recordOrigin.Global();
  auto recordedNanos = [&](double frame) {
    const double roughly = soundOrigin + frame * 1e9 / rate;
    return recordOrigin.Near(roughly) + frame * 1e9 / rate;
  };

  // The recorded sound, block by block, in the song.
  struct Block {
    int64_t heardFrame;
    int64_t songFrame;
  };
  std::vector<Block> blocks;
  SongSearch search(song);
  const int64_t fromFrame = static_cast<int64_t>(songFrom * rate);
  bool locked = false;
  int64_t shift = 0;  // song frame minus heard frame
  int sounding = 0;
  int matched = 0;
  // Music that came back elsewhere in the song is looked for in all of it,
  // once 8 blocks with sound have not been found, at most once a second.
  int missed = 0;
  int64_t lastWide = -rate;
  for (int64_t at = 0; at + kBlock <= static_cast<int64_t>(heard.size()); at += kHop) {
    double energy = 0.0;
    for (int i = 0; i < kBlock; ++i) energy += double(heard[at + i]) * heard[at + i];
    if (std::sqrt(energy / kBlock) < kSoundLevel) continue;
    ++sounding;
    Match match;
    if (!locked) {
      match = search.Find(&heard[at], fromFrame - rate / 2, fromFrame + 4 * rate);
    } else {
      match = search.Find(&heard[at], at + shift - 64, at + shift + 64);
      if (match.level < kMatchLevel) match = search.Find(&heard[at], at + shift - rate, at + shift + rate);
    }
    if (match.level < (locked ? kMatchLevel : 0.8) && ++missed >= 8 && at - lastWide >= rate) {
      lastWide = at;
      match = search.Find(&heard[at], 0, static_cast<int64_t>(song.size()));
      if (match.level < 0.8) match = Match();
    }
    if (match.level < (locked ? kMatchLevel : 0.8)) continue;
    missed = 0;
    locked = true;
    ++matched;
    shift = match.songFrame - at;
    blocks.push_back({at, match.songFrame});
  }
  report->soundingSeconds = sounding * double(kHop) / rate;
  report->matchedSeconds = matched * double(kHop) / rate;
  if (blocks.empty() && window.seconds <= 0.0) {
    *why = "the recorded sound is nowhere in the song";
    return false;
  }
  if (!blocks.empty()) {
    report->firstSongSecond = double(blocks.front().songFrame) / rate;
    report->lastSongSecond = double(blocks.back().songFrame + kBlock) / rate;
  }
  // The nearest block to a recorded frame.
  auto nearestBlock = [&](int64_t heardFrame) {
    auto next = std::lower_bound(blocks.begin(), blocks.end(), heardFrame,
                                 [](const Block& b, int64_t h) { return b.heardFrame < h; });
    if (next == blocks.end() || (next != blocks.begin() && heardFrame - std::prev(next)->heardFrame <
                                                              next->heardFrame - heardFrame)) {
      --next;
    }
    return *next;
  };

  // The window: from the first song heard at or after the event (the
  // first millisecond with sound in the first block found in the song) to
  // the event's time plus its span.
  int64_t windowStart = 0;
  int64_t windowEnd = -1;
  double windowStartNanos = 0.0;
  if (window.seconds > 0.0) {
    report->windowed = true;
    const double event = static_cast<double>(window.eventNanos);
    const int64_t eventFrame = std::llround((event - recordOrigin.Near(event)) * rate / 1e9);
    report->eventRecordedSeconds = (recordedNanos(0.0) - event) / 1e9;
    for (int64_t nanos : recording.segmentNanos) {
      if (nanos < event) continue;
      report->eventSinkSeconds = (nanos - event) / 1e9;
      break;
    }
    windowEnd = eventFrame + static_cast<int64_t>(window.seconds * rate);
    windowStart = windowEnd + 1;
    const int64_t slice = rate / 1000;
    for (const Block& b : blocks) {
      int64_t at = std::max(b.heardFrame, eventFrame);
      while (at < b.heardFrame + kBlock && Rms(heard, at, slice) < kSoundLevel) at += slice;
      if (at >= b.heardFrame + kBlock) continue;
      windowStart = at;
      windowStartNanos = recordedNanos(double(at));
      report->eventHeardSeconds = std::max(0.0, (windowStartNanos - event) / 1e9);
      break;
    }
    // The song missing, 5 ms at a time, where the nearest block puts it.
    const int64_t step = rate / 200;
    for (int64_t at = windowStart; at + step <= std::min<int64_t>(windowEnd, heard.size()); at += step) {
      const Block nearest = nearestBlock(at);
      const double expected = Rms(song, at + nearest.songFrame - nearest.heardFrame, step);
      if (expected > 10 * kSoundLevel && Rms(heard, at, step) < 0.1 * expected) {
        report->windowMissingMs += step * 1000.0 / rate;
      }
    }
  }
  // Gaps: the heard sound moving against the song between two blocks.
  const int64_t tolerance = rate / 2000;  // half a millisecond
  for (size_t b = 1; b < blocks.size(); ++b) {
    const int64_t step = (blocks[b].songFrame - blocks[b].heardFrame) - (blocks[b - 1].songFrame - blocks[b - 1].heardFrame);
    if (std::llabs(step) <= tolerance) continue;
    const double ms = std::fabs(double(step)) * 1000.0 / rate;
    if (details != nullptr) {
      std::fprintf(details, "gap: %+.1f ms at %.3f s of the recording, %.3f s of the song\n",
                   double(step) * 1000.0 / rate, double(blocks[b].heardFrame) / rate,
                   double(blocks[b].songFrame) / rate);
    }
    ++report->gaps;
    report->longestGapMs = std::max(report->longestGapMs, ms);
    (step > 0 ? report->lostMs : report->insertedMs) += ms;
    if (blocks[b].heardFrame + kBlock > windowStart && blocks[b].heardFrame <= windowEnd) {
      ++report->windowGaps;
      report->windowLongestGapMs = std::max(report->windowLongestGapMs, ms);
      (step > 0 ? report->windowLostMs : report->windowInsertedMs) += ms;
    }
  }
  // When the song's frame s was heard: through the block nearest to it in the song.
  auto heardNanos = [&](int64_t songFrame, double* nanos) {
    auto next = std::lower_bound(blocks.begin(), blocks.end(), songFrame,
                                 [](const Block& b, int64_t s) { return b.songFrame < s; });
    const Block* nearest = nullptr;
    if (next != blocks.end()) nearest = &*next;
    if (next != blocks.begin() &&
        (nearest == nullptr || songFrame - std::prev(next)->songFrame < nearest->songFrame - songFrame)) {
      nearest = &*std::prev(next);
    }
    if (nearest == nullptr || std::llabs(nearest->songFrame - songFrame) > rate / 4) return false;
    *nanos = recordedNanos(double(songFrame - nearest->songFrame + nearest->heardFrame));
    return true;
  };

  // The chain's bias from the markers.
  StreamOrigin markerOrigin;
  for (const MarkerTiming& t : recording.markerTiming) markerOrigin.Add(t.nanos, t.nanos - t.playedMicros * 1e3);
  std::vector<double> biases, soundDates, pictureDates;
  double floor = 0.0;
  if (!markerOrigin.empty() && !recording.markers.empty()) {
    const std::vector<float> envelope = MarkerEnvelope(recording.mono, rate);
    const int64_t burst = int64_t(rate) * kMarkerBurstMillis / 1000;
    const int64_t between = int64_t(rate) * kMarkerPeriodMillis / 2000;
    for (const Marker& marker : recording.markers) {
      // The marker stream's clock must hold still around the burst: where
      // it moved (a suspended sink, a server gone) the burst is not dated.
      int close = 0;
      const double origin = markerOrigin.Near(marker.flipNanos, 0.3e9, &close);
      if (close < 5 || std::fabs(origin - markerOrigin.Near(marker.flipNanos)) > 1e6) {
        if (details != nullptr) std::fprintf(details, "marker %d: its stream's clock moved near it\n", marker.index);
        continue;
      }
      const double played = origin + (marker.firstFrame + burst / 2.0) * 1e9 / rate;
      const double expected = (played - soundOrigin) * rate / 1e9;
      const int64_t lo = std::max<int64_t>(1, int64_t(expected) - rate / 5);
      const int64_t hi = std::min<int64_t>(int64_t(envelope.size()) - 2, int64_t(expected) + rate / 5);
      if (hi <= lo) continue;
      int64_t peak = lo;
      for (int64_t i = lo; i <= hi; ++i) {
        if (envelope[i] > envelope[peak]) peak = i;
      }
      if (envelope[peak] < kMarkerLevel * 0.1) {
        if (details != nullptr) std::fprintf(details, "marker %d: not heard\n", marker.index);
        continue;
      }
      // Halfway to the next burst: the band holds only what the song puts there.
      for (int64_t i = peak + between - burst * 2; i <= peak + between + burst * 2; ++i) {
        if (i < int64_t(envelope.size())) floor = std::max(floor, double(envelope[i]) / envelope[peak]);
      }
      const double a = envelope[peak - 1], b = envelope[peak], c = envelope[peak + 1];
      const double denominator = a - 2 * b + c;
      const double refined = peak + (denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0);
      const double soundDate = (recordedNanos(refined) - played) / 1e6;
      // The first time the recorder saw the patch in its new colour (a read
      // may end before the flip's round trip to the X server does).
      double pictureDate = 1e9;
      for (const ScreenEvent& e : recording.patches) {
        if (e.order == marker.patch && e.nanos >= marker.flipNanos - 1000000) {
          pictureDate = (e.nanos - marker.flipNanos) / 1e6;
          break;
        }
      }
      if (pictureDate < -1.0 || pictureDate > 100.0) {
        if (details != nullptr) std::fprintf(details, "marker %d: its patch was not seen\n", marker.index);
        continue;
      }
      soundDates.push_back(soundDate);
      pictureDates.push_back(pictureDate);
      biases.push_back(pictureDate - soundDate);
      if (details != nullptr) {
        std::fprintf(details, "marker %d: sound dated %+.2f ms, picture %+.2f ms\n", marker.index, soundDate,
                     pictureDate);
      }
    }
  }
  report->markerFloorDb = biases.empty() ? 0.0 : 20.0 * std::log10(std::max(floor, 1e-6));
  report->bias = SpreadOf(biases);
  report->soundDating = SpreadOf(soundDates);
  report->pictureDating = SpreadOf(pictureDates);
  const double bias = report->bias.median;

  // The picture: every change of the shown position but the first sighting.
  std::vector<double> windowOffsets;
  for (size_t e = 1; e < recording.codes.size(); ++e) {
    const ScreenEvent& code = recording.codes[e];
    const ScreenEvent& before = recording.codes[e - 1];
    if (std::make_pair(code.order, code.row) < std::make_pair(before.order, before.row)) continue;  // a restart
    auto start = reference.rowStart.find({code.order, code.row});
    if (start == reference.rowStart.end()) continue;
    double heardAt = 0.0;
    if (!heardNanos(start->second, &heardAt)) continue;
    report->offsets.push_back((code.nanos - heardAt) / 1e6 - bias);
    report->offsetNanos.push_back(code.nanos);
    if (report->windowed && code.nanos >= windowStartNanos && windowStart <= windowEnd &&
        code.nanos <= window.eventNanos + window.seconds * 1e9) {
      windowOffsets.push_back(report->offsets.back());
    }
  }
  report->offset = SpreadOf(report->offsets);
  report->windowOffset = SpreadOf(windowOffsets);
  return true;
}

std::string FormatReport(const Report& r) {
  char text[2048];
  int length = std::snprintf(
      text, sizeof text,
      "picture minus sound: median %+.1f ms, 10-90 %% %+.1f to %+.1f ms, over %d changes of row\n"
      "music: %.1f s heard of %.1f s recorded, %.1f s of it found in the song (%.1f s to %.1f s); "
      "%d gaps, longest %.1f ms, %.1f ms inserted, %.1f ms lost\n"
      "chain bias: %+.1f ms, 10-90 %% %+.1f to %+.1f ms, over %d markers "
      "(sound dated %+.1f ms, picture %+.1f ms after the fact; the song at %.0f dB of a burst in their band)\n",
      r.offset.median, r.offset.low, r.offset.high, r.offset.count, r.soundingSeconds, r.recordedSeconds,
      r.matchedSeconds, r.firstSongSecond, r.lastSongSecond, r.gaps, r.longestGapMs, r.insertedMs, r.lostMs,
      r.bias.median, r.bias.low, r.bias.high, r.bias.count, r.soundDating.median, r.pictureDating.median,
      r.markerFloorDb);
  if (r.windowed && r.eventHeardSeconds < 0.0) {
    std::snprintf(text + length, sizeof text - length, "after the event: no music heard\n");
  } else if (r.windowed) {
    std::snprintf(text + length, sizeof text - length,
                  "after the event: music heard after %.3f s; from then picture minus sound median %+.1f ms "
                  "(10-90 %% %+.1f to %+.1f ms) over %d rows, %d gaps (longest %.1f ms, %.1f ms inserted, "
                  "%.1f ms lost), %.1f ms of the song missing\n",
                  r.eventHeardSeconds, r.windowOffset.median, r.windowOffset.low, r.windowOffset.high,
                  r.windowOffset.count, r.windowGaps, r.windowLongestGapMs, r.windowInsertedMs, r.windowLostMs,
                  r.windowMissingMs);
  }
  return text;
}

std::string FormatKeys(const Report& r) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(4);  // bc reads no exponents
  out << "offset_median_ms=" << r.offset.median << "\noffset_p10_ms=" << r.offset.low
      << "\noffset_p90_ms=" << r.offset.high << "\nrow_changes=" << r.offset.count
      << "\nrecorded_s=" << r.recordedSeconds << "\nsounding_s=" << r.soundingSeconds
      << "\nmatched_s=" << r.matchedSeconds << "\nsong_first_s=" << r.firstSongSecond
      << "\nsong_last_s=" << r.lastSongSecond << "\ngaps=" << r.gaps << "\nlongest_gap_ms=" << r.longestGapMs
      << "\ninserted_ms=" << r.insertedMs << "\nlost_ms=" << r.lostMs << "\nbias_ms=" << r.bias.median
      << "\nbias_p10_ms=" << r.bias.low << "\nbias_p90_ms=" << r.bias.high << "\nmarkers=" << r.bias.count
      << "\nmarker_floor_db=" << r.markerFloorDb << '\n';
  if (r.windowed) {
    out << "event_recorded_s=" << r.eventRecordedSeconds << "\nevent_sink_s=" << r.eventSinkSeconds
        << "\nevent_heard_s=" << r.eventHeardSeconds << "\nwindow_offset_median_ms=" << r.windowOffset.median
        << "\nwindow_offset_p10_ms=" << r.windowOffset.low << "\nwindow_offset_p90_ms=" << r.windowOffset.high
        << "\nwindow_rows=" << r.windowOffset.count << "\nwindow_gaps=" << r.windowGaps
        << "\nwindow_longest_gap_ms=" << r.windowLongestGapMs << "\nwindow_inserted_ms=" << r.windowInsertedMs
        << "\nwindow_lost_ms=" << r.windowLostMs << "\nwindow_missing_ms=" << r.windowMissingMs << '\n';
  }
  return out.str();
}

}  // namespace syncmeter
