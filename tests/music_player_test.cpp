// Music playback tests with no audio device: a tiny module written here
// plays in real time through the silent player (and through SDL's dummy
// driver for the device path); the heard position advances order by order,
// holds its last row after the end, is all bits set for failed loads, goes
// on silently while the device takes no sound or is lost, and re-joins in
// step when it plays again.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/audio_output.h"
#include "platform/music_player.h"
#include "tests/support/gl_harness.h"
#include "tests/support/test_module.h"

namespace {

// Three orders of 16 rows, 30 ms a row: 480 ms an order, 1.44 s in all.
constexpr int kOrders = 3;
constexpr int kRows = 16;
constexpr int kSpeed = 3;
constexpr int kBpm = 250;
const double kRowSeconds = testmodule::RowSeconds(kSpeed, kBpm);

int Order(uint32_t position) { return static_cast<int>(position & 0xFFFF); }
int Row(uint32_t position) { return static_cast<int>(position >> 16); }

// A position and the times (since PlayMusic) just before and after asking.
struct Sample {
  double before;
  double after;
  uint32_t position;
};

// Samples the position every 5 ms for `seconds` after playback starts.
std::vector<Sample> PlayAndSample(uint32_t handle, double seconds) {
  std::vector<Sample> samples;
  auto start = std::chrono::steady_clock::now();
  PlayMusic(handle);
  auto since = [start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  for (;;) {
    double before = since();
    if (before > seconds) break;
    uint32_t position = GetMusicPosition(handle);
    samples.push_back({before, since(), position});
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return samples;
}

class MusicPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No driver of that name: SDL's audio cannot open, as on a machine
    // without a sound card, even where one exists.
    setenv("SDL_AUDIODRIVER", "lantern-no-such-driver", 1);
    ASSERT_TRUE(testmodule::WriteFile(
        scratch_.path() + "/song.xm", testmodule::SilentXm(kOrders, kRows, kSpeed, kBpm)));
  }
  void TearDown() override {
    ShutdownMusicOutput();
    unsetenv("SDL_AUDIODRIVER");
  }

  // Checks that a run of samples follows the song's rows in time: each
  // sample is at most maxLagRows behind the wall clock since PlayMusic (what
  // was rendered reaches the listener a little later) and never ahead by
  // more than one; after the song it holds the last row.
  static void ExpectFollowsTheSong(const std::vector<Sample>& samples, int maxLagRows) {
    ASSERT_GT(samples.size(), 100u);
    int lastIndex = kOrders * kRows - 1;
    int previous = 0;
    int orderSeen[kOrders] = {};
    for (const Sample& s : samples) {
      int index = Order(s.position) * kRows + Row(s.position);
      int earliest = static_cast<int>(s.before / kRowSeconds);
      int latest = static_cast<int>(s.after / kRowSeconds);
      if (earliest > lastIndex) earliest = lastIndex;
      if (latest > lastIndex) latest = lastIndex;
      EXPECT_GE(index, earliest - maxLagRows) << "at " << s.before << " s";
      EXPECT_LE(index, latest + 1) << "at " << s.after << " s";
      EXPECT_GE(index, previous) << "went back at " << s.before << " s";
      previous = index;
      if (Order(s.position) < kOrders) orderSeen[Order(s.position)] = 1;
    }
    for (int order = 0; order < kOrders; ++order) EXPECT_EQ(orderSeen[order], 1) << order;
    EXPECT_EQ(samples.back().position, static_cast<uint32_t>((kOrders - 1) | ((kRows - 1) << 16)));
  }

  // Opens SDL's dummy driver, which calls back at about real time like a
  // sound card, and loads the song; 0 when either fails.
  static uint32_t LoadOnDummyDevice() {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    InitMusicOutput(kMusicSampleRate);
    StartMusicOutput();
    if (MusicOutputIsSilent()) return 0;
    return LoadMusicFile("song.xm");
  }

  harness::ScratchDir scratch_;
};

TEST_F(MusicPlayerTest, FailedLoadsAndUnknownHandlesGiveAllBitsSet) {
  InitMusicOutput(kMusicSampleRate);
  StartMusicOutput();
  EXPECT_EQ(LoadMusicFile("TRK-MAIN.mo3"), 0u);  // no such file here
  harness::WriteBytes("garbage.mo3", std::vector<uint8_t>(4000, 0x5A));
  EXPECT_EQ(LoadMusicFile("garbage.mo3"), 0u);
  EXPECT_EQ(GetMusicPosition(0), kNoMusicPosition);
  EXPECT_EQ(GetMusicPosition(12345), kNoMusicPosition);
  PlayMusic(0);   // harmless
  FreeMusic(0);   // harmless

  uint32_t handle = LoadMusicFile("song.xm");
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(GetMusicPosition(handle), 0u);  // loaded, not yet playing: the start
  FreeMusic(handle);
  EXPECT_EQ(GetMusicPosition(handle), kNoMusicPosition);
}

TEST_F(MusicPlayerTest, SilentPlaybackAdvancesInRealTimeAndHoldsTheLastRow) {
  InitMusicOutput(kMusicSampleRate);
  InitMusicOutput(kMusicSampleRate);  // repeated, as every F1 does
  StartMusicOutput();
  StartMusicOutput();
  ASSERT_TRUE(MusicOutputIsSilent());
  uint32_t handle = LoadMusicFile("song.xm");
  ASSERT_NE(handle, 0u);
  std::vector<Sample> samples = PlayAndSample(handle, kOrders * kRows * kRowSeconds + 0.35);
  // The silent player renders at most 23 ms ahead of its clock; allow for
  // a busy machine delaying its thread too.
  ExpectFollowsTheSong(samples, 4);
  // Long after the end it still holds the last row; it never wraps to order 0.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(GetMusicPosition(handle), static_cast<uint32_t>(2 | (15 << 16)));
}

TEST_F(MusicPlayerTest, APositionLeadReportsWhatWillBeHeardThatMuchLater) {
  InitMusicOutput(kMusicSampleRate);
  StartMusicOutput();
  uint32_t handle = LoadMusicFile("song.xm");
  ASSERT_NE(handle, 0u);
  // Ten rows ahead: a frame drawn now is shown 300 ms later.
  SetMusicPositionLead(300000);
  const std::vector<Sample> samples = PlayAndSample(handle, 0.6);
  int checked = 0;
  for (const Sample& s : samples) {
    if (s.before < 0.1) continue;
    const int index = Order(s.position) * kRows + Row(s.position);
    EXPECT_GE(index, static_cast<int>((s.before + 0.3) / kRowSeconds) - 4) << "at " << s.before << " s";
    EXPECT_LE(index, static_cast<int>((s.after + 0.3) / kRowSeconds) + 1) << "at " << s.after << " s";
    ++checked;
  }
  // About 100 samples on a quiet machine; a loaded one sleeps longer.
  EXPECT_GT(checked, 20);
}

TEST_F(MusicPlayerTest, RestartAfterTheEndAndReloadPlayFromTheBeginning) {
  InitMusicOutput(kMusicSampleRate);
  StartMusicOutput();
  uint32_t first = LoadMusicFile("song.xm");
  ASSERT_NE(first, 0u);
  PlayAndSample(first, kOrders * kRows * kRowSeconds + 0.1);
  ASSERT_EQ(GetMusicPosition(first), static_cast<uint32_t>(2 | (15 << 16)));

  // The restart sequence: free the old module, load the file again, play.
  FreeMusic(first);
  uint32_t second = LoadMusicFile("song.xm");
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, first);
  EXPECT_EQ(GetMusicPosition(first), kNoMusicPosition);
  std::vector<Sample> samples = PlayAndSample(second, 0.6);
  EXPECT_LE(Order(samples.front().position), 0);
  EXPECT_EQ(Order(samples.back().position), 1);
  int index = Order(samples.back().position) * kRows + Row(samples.back().position);
  EXPECT_NEAR(index, samples.back().before / kRowSeconds, 3.5);
}

// LANTERN_FROM's music start: the heard position is the row asked for at
// once (before any audio reaches the listener), then follows the song in
// real time from there; a position the song does not have plays it from
// its beginning.
TEST_F(MusicPlayerTest, PlayFromAPositionStartsThereAndGoesOnInTime) {
  InitMusicOutput(kMusicSampleRate);
  StartMusicOutput();
  uint32_t handle = LoadMusicFile("song.xm");
  ASSERT_NE(handle, 0u);
  const int startIndex = 1 * kRows + 8;
  const auto start = std::chrono::steady_clock::now();
  PlayMusicFrom(handle, 1, 8);
  EXPECT_EQ(GetMusicPosition(handle), static_cast<uint32_t>(1 | (8 << 16)));
  auto since = [start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  int previous = startIndex;
  const int lastIndex = kOrders * kRows - 1;
  for (double before = since(); before < 0.4; before = since()) {
    const uint32_t position = GetMusicPosition(handle);
    const double after = since();
    const int index = Order(position) * kRows + Row(position);
    EXPECT_GE(index, previous) << "went back at " << before << " s";
    EXPECT_GE(index, std::min(lastIndex, startIndex + static_cast<int>(before / kRowSeconds)) - 4)
        << "behind at " << before << " s";
    EXPECT_LE(index, std::min(lastIndex, startIndex + static_cast<int>(after / kRowSeconds) + 1))
        << "ahead at " << after << " s";
    previous = index;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GT(previous, startIndex + 5) << "the song did not go on from the row it started at";

  for (const auto& missing : {std::pair<int, int>{7, 0}, std::pair<int, int>{1, 40}}) {
    PlayMusicFrom(handle, missing.first, missing.second);
    EXPECT_EQ(GetMusicPosition(handle), 0u) << missing.first << ":" << missing.second;
  }
}

TEST_F(MusicPlayerTest, DevicePlaybackPositionFollowsWhatIsHeard) {
  const uint32_t handle = LoadOnDummyDevice();
  ASSERT_NE(handle, 0u);
  std::vector<Sample> samples = PlayAndSample(handle, kOrders * kRows * kRowSeconds + 0.35);
  // Two device buffers (46 ms) lie between rendering and the listener. The
  // dummy driver's thread sleeps after each buffer and never catches up, so
  // on a starved machine what it has "played" falls behind the wall clock
  // (measured: nine rows at a load of 16 on two cores); the position follows
  // the device, so the bound on its lag is wide.
  ExpectFollowsTheSong(samples, 16);
}

// A device that stalls (its callback held for 1.6 s), then one that is
// lost: each time the song goes on on the silent clock and re-joins the
// device when it plays again (the lost one opened anew), the heard
// position following the wall clock throughout; the first silence and the
// first return are said, the second silence only in the closing count.
TEST_F(MusicPlayerTest, AStalledOrLostDeviceHandsTheSongToTheSilentClockAndItReJoins) {
  // Ten orders of 16 rows: 4.8 s, long enough for both.
  ASSERT_TRUE(testmodule::WriteFile("long.xm", testmodule::SilentXm(10, kRows, kSpeed, kBpm)));
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  InitMusicOutput(kMusicSampleRate);
  StartMusicOutput();
  ASSERT_FALSE(MusicOutputIsSilent());
  const uint32_t handle = LoadMusicFile("long.xm");
  ASSERT_NE(handle, 0u);
  // The device that was opened (SDL numbers opened devices from 2).
  SDL_AudioDeviceID device = 0;
  for (SDL_AudioDeviceID id = 2; id < 16 && device == 0; ++id) {
    if (SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_PLAYING) device = id;
  }
  ASSERT_NE(device, 0u);
  harness::StderrCapture capture;
  const auto start = std::chrono::steady_clock::now();
  auto since = [start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  PlayMusic(handle);
  std::vector<Sample> samples;
  bool locked = false, unlocked = false, lost = false;
  double silentAt = -1.0, backAt = -1.0, lostAt = -1.0, backAgainAt = -1.0;
  while (since() < 4.4) {
    const double t = since();
    if (!locked && t >= 0.3) {
      SDL_LockAudioDevice(device);  // its callback now blocks
      locked = true;
    }
    if (locked && !unlocked && t >= 1.9) {
      SDL_UnlockAudioDevice(device);
      unlocked = true;
    }
    const bool silent = MusicOutputIsSilent();
    if (silent && silentAt < 0) silentAt = t;
    if (unlocked && !silent && backAt < 0) backAt = t;
    if (backAt > 0 && !lost && t >= backAt + 0.5) {
      AudioDeviceLost("taken away by the test");
      lost = true;
      lostAt = t;
    }
    if (lostAt > 0 && t > lostAt && !silent && backAgainAt < 0) backAgainAt = t;
    samples.push_back({t, 0.0, GetMusicPosition(handle)});
    samples.back().after = since();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (locked && !unlocked) SDL_UnlockAudioDevice(device);
  ASSERT_GT(silentAt, 1.2) << "the stall was found before a second had passed";
  ASSERT_LT(silentAt, 1.7) << "the stall was not found";
  ASSERT_GT(backAt, 0.0) << "the music did not re-join the device";
  EXPECT_LT(backAt - 1.9, 0.5) << "the device pulled again but the music stayed silent";
  ASSERT_GT(backAgainAt, 0.0) << "no device was opened again after the loss";
  EXPECT_LT(backAgainAt - lostAt, 1.5);

  // Held while the device was stalled and not yet found so (about 1.1 s,
  // extrapolated one buffer), then on at the wall clock's pace on the
  // silent clock; never back; and at each re-join neither held nor thrown
  // forward: 0.3 s across it moves the song 10 rows. On the device, the
  // dummy driver's clock may lag the wall clock on a loaded machine (see
  // above), so the lag bound there is wide.
  const double held = silentAt - 0.3;
  int previous = 0;
  auto indexAt = [&samples](double t) {
    for (const Sample& s : samples) {
      if (s.before >= t) return Order(s.position) * kRows + Row(s.position);
    }
    return -1;
  };
  for (const Sample& s : samples) {
    const int index = Order(s.position) * kRows + Row(s.position);
    EXPECT_GE(index, previous) << "went back at " << s.before << " s";
    previous = index;
    if (s.before < silentAt + 0.1) continue;
    const int slack = s.before < backAt ? 3 : 16;
    EXPECT_GE(index, static_cast<int>((s.before - held) / kRowSeconds) - slack) << "behind at " << s.before << " s";
    EXPECT_LE(index, static_cast<int>((s.after - held + 0.03) / kRowSeconds) + 2) << "ahead at " << s.after << " s";
  }
  for (double rejoin : {backAt, backAgainAt}) {
    EXPECT_NEAR(indexAt(rejoin + 0.25) - indexAt(rejoin - 0.05), 0.3 / kRowSeconds, 3.5) << "re-join at " << rejoin << " s";
  }

  ShutdownMusicOutput();
  const std::string text = capture.Text();
  auto count = [&text](const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("lantern: the audio device stopped (it took no sound for a second past what it held); "
                  "the music goes on silently and re-joins the show when the device is back\n"),
            1u)
      << text;
  EXPECT_EQ(count("lantern: the audio device is back after "), 1u) << text;
  EXPECT_EQ(count("lantern: the music fell silent 1 more time, "), 1u) << text;
  EXPECT_EQ(count("taken away by the test"), 0u) << text;
  EXPECT_EQ(count("\n"), 3u) << text;
}

}  // namespace
