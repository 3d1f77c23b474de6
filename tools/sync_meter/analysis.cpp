// The sync meter's analysis: block-wise normalised cross-correlation of the
// recorded sound with the song (FFTW), marker bursts found by demodulating
// the recording at the marker tone, and the offsets of the position code.
#include "tools/sync_meter/analysis.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
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
  // The median origin over the readings within 1.5 s of the moment.
  double Near(double nanos) const {
    std::vector<double> values;
    auto first = std::lower_bound(readings_.begin(), readings_.end(), std::make_pair(nanos - 1.5e9, -1e300));
    for (auto it = first; it != readings_.end() && it->first <= nanos + 1.5e9; ++it) values.push_back(it->second);
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
  const double step = 2.0 * M_PI * kMarkerHz / rate;
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

bool Analyse(const Recording& recording, const Reference& reference, double songFrom, Report* report,
             std::string* why, FILE* details) {
  *report = Report();
  const int rate = recording.rate;
  if (reference.rate != rate) {
    *why = "the song was rendered at another rate than the recording's";
    return false;
  }
  const std::vector<float>& heard = recording.mono;
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
  SongSearch search(reference.mono);
  const int64_t fromFrame = static_cast<int64_t>(songFrom * rate);
  bool locked = false;
  int64_t shift = 0;  // song frame minus heard frame
  int sounding = 0;
  int matched = 0;
  for (int64_t at = 0; at + kBlock <= static_cast<int64_t>(heard.size()); at += kHop) {
    double energy = 0.0;
    for (int i = 0; i < kBlock; ++i) energy += double(heard[at + i]) * heard[at + i];
    if (std::sqrt(energy / kBlock) < kSoundLevel) continue;
    ++sounding;
    Match match;
    if (!locked) {
      match = search.Find(&heard[at], fromFrame - rate / 2, fromFrame + 4 * rate);
      if (match.level < 0.8) continue;
    } else {
      match = search.Find(&heard[at], at + shift - 64, at + shift + 64);
      if (match.level < kMatchLevel) match = search.Find(&heard[at], at + shift - rate, at + shift + rate);
      if (match.level < kMatchLevel) continue;
    }
    locked = true;
    ++matched;
    shift = match.songFrame - at;
    blocks.push_back({at, match.songFrame});
  }
  report->soundingSeconds = sounding * double(kHop) / rate;
  report->matchedSeconds = matched * double(kHop) / rate;
  if (blocks.empty()) {
    *why = "the recorded sound is nowhere in the song";
    return false;
  }
  report->firstSongSecond = double(blocks.front().songFrame) / rate;
  report->lastSongSecond = double(blocks.back().songFrame + kBlock) / rate;
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
  if (!markerOrigin.empty() && !recording.markers.empty()) {
    const std::vector<float> envelope = MarkerEnvelope(heard, rate);
    const int64_t burst = int64_t(rate) * kMarkerBurstMillis / 1000;
    for (const Marker& marker : recording.markers) {
      const double played = markerOrigin.Near(marker.flipNanos) + (marker.firstFrame + burst / 2.0) * 1e9 / rate;
      const double expected = (played - soundOrigin) * rate / 1e9;
      const int64_t lo = std::max<int64_t>(1, int64_t(expected) - rate / 5);
      const int64_t hi = std::min<int64_t>(int64_t(envelope.size()) - 2, int64_t(expected) + rate / 5);
      if (hi <= lo) continue;
      int64_t peak = lo;
      for (int64_t i = lo; i <= hi; ++i) {
        if (envelope[i] > envelope[peak]) peak = i;
      }
      if (envelope[peak] < kMarkerLevel * 0.1) continue;  // not heard
      const double a = envelope[peak - 1], b = envelope[peak], c = envelope[peak + 1];
      const double denominator = a - 2 * b + c;
      const double refined = peak + (denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0);
      const double soundDate = (recordedNanos(refined) - played) / 1e6;
      // The first time the recorder saw the patch in its new colour.
      double pictureDate = -1.0;
      for (const ScreenEvent& e : recording.patches) {
        if (e.order == marker.patch && e.nanos >= marker.flipNanos - 1000000) {
          pictureDate = (e.nanos - marker.flipNanos) / 1e6;
          break;
        }
      }
      if (pictureDate < 0.0 || pictureDate > 100.0) continue;
      soundDates.push_back(soundDate);
      pictureDates.push_back(pictureDate);
      biases.push_back(pictureDate - soundDate);
      if (details != nullptr) {
        std::fprintf(details, "marker %d: sound dated %+.2f ms, picture %+.2f ms\n", marker.index, soundDate,
                     pictureDate);
      }
    }
  }
  report->bias = SpreadOf(biases);
  report->soundDating = SpreadOf(soundDates);
  report->pictureDating = SpreadOf(pictureDates);
  const double bias = report->bias.median;

  // The picture: every change of the shown position but the first sighting.
  for (size_t e = 1; e < recording.codes.size(); ++e) {
    const ScreenEvent& code = recording.codes[e];
    const ScreenEvent& before = recording.codes[e - 1];
    if (std::make_pair(code.order, code.row) < std::make_pair(before.order, before.row)) continue;  // a restart
    auto start = reference.rowStart.find({code.order, code.row});
    if (start == reference.rowStart.end()) continue;
    double heardAt = 0.0;
    if (!heardNanos(start->second, &heardAt)) continue;
    report->offsets.push_back((code.nanos - heardAt) / 1e6 - bias);
  }
  report->offset = SpreadOf(report->offsets);
  return true;
}

std::string FormatReport(const Report& r) {
  char text[1024];
  std::snprintf(text, sizeof text,
                "picture minus sound: median %+.1f ms, 10-90 %% %+.1f to %+.1f ms, over %d changes of row\n"
                "music: %.1f s heard of %.1f s recorded, %.1f s of it found in the song (%.1f s to %.1f s); "
                "%d gaps, longest %.1f ms, %.1f ms inserted, %.1f ms lost\n"
                "chain bias: %+.1f ms, 10-90 %% %+.1f to %+.1f ms, over %d markers "
                "(sound dated %+.1f ms, picture %+.1f ms after the fact)\n",
                r.offset.median, r.offset.low, r.offset.high, r.offset.count, r.soundingSeconds, r.recordedSeconds,
                r.matchedSeconds, r.firstSongSecond, r.lastSongSecond, r.gaps, r.longestGapMs, r.insertedMs,
                r.lostMs, r.bias.median, r.bias.low, r.bias.high, r.bias.count, r.soundDating.median,
                r.pictureDating.median);
  return text;
}

std::string FormatKeys(const Report& r) {
  std::ostringstream out;
  out << "offset_median_ms=" << r.offset.median << "\noffset_p10_ms=" << r.offset.low
      << "\noffset_p90_ms=" << r.offset.high << "\nrow_changes=" << r.offset.count
      << "\nrecorded_s=" << r.recordedSeconds << "\nsounding_s=" << r.soundingSeconds
      << "\nmatched_s=" << r.matchedSeconds << "\nsong_first_s=" << r.firstSongSecond
      << "\nsong_last_s=" << r.lastSongSecond << "\ngaps=" << r.gaps << "\nlongest_gap_ms=" << r.longestGapMs
      << "\ninserted_ms=" << r.insertedMs << "\nlost_ms=" << r.lostMs << "\nbias_ms=" << r.bias.median
      << "\nbias_p10_ms=" << r.bias.low << "\nbias_p90_ms=" << r.bias.high << "\nmarkers=" << r.bias.count << '\n';
  return out.str();
}

}  // namespace syncmeter
