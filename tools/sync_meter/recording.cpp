// The recording's folder: audio.f32 (the monitor, mono 32-bit float at the
// recording's rate, for sox -t f32 -c 1 -r RATE) and one CSV per series.
#include "tools/sync_meter/recording.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace syncmeter {
namespace {

template <typename T, typename Write>
bool WriteCsv(const std::string& path, const char* header, const std::vector<T>& rows, Write write) {
  std::ofstream out(path);
  out << header << '\n';
  for (const T& row : rows) {
    write(out, row);
    out << '\n';
  }
  return static_cast<bool>(out);
}

template <typename T, typename Parse>
bool ReadCsv(const std::string& path, std::vector<T>* rows, Parse parse) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    for (char& c : line) {
      if (c == ',') c = ' ';
    }
    std::istringstream fields(line);
    T row;
    if (!parse(fields, &row)) return false;
    rows->push_back(row);
  }
  return true;
}

}  // namespace

bool WriteRecording(const Recording& r, const std::string& dir, std::string* why) {
  mkdir(dir.c_str(), 0777);
  FILE* audio = std::fopen((dir + "/audio.f32").c_str(), "wb");
  bool ok = audio != nullptr &&
            std::fwrite(r.mono.data(), sizeof(float), r.mono.size(), audio) == r.mono.size();
  if (audio != nullptr) ok = std::fclose(audio) == 0 && ok;
  {
    std::ofstream meta(dir + "/meta.txt");
    meta << "rate " << r.rate << "\nstart_nanos " << r.startNanos << "\ngrabs " << r.grabs << "\noverflows "
         << r.overflows << "\nmarker_underruns " << r.markerUnderruns << '\n';
    ok = ok && static_cast<bool>(meta);
  }
  ok = ok && WriteCsv(dir + "/audio_timing.csv", "nanos,latency_us,frames_read", r.audioTiming,
                      [](std::ostream& o, const AudioTiming& t) {
                        o << t.nanos << ',' << t.latencyMicros << ',' << t.framesRead;
                      });
  ok = ok && WriteCsv(dir + "/marker_timing.csv", "nanos,played_us", r.markerTiming,
                      [](std::ostream& o, const MarkerTiming& t) { o << t.nanos << ',' << t.playedMicros; });
  auto event = [](std::ostream& o, const ScreenEvent& e) { o << e.nanos << ',' << e.order << ',' << e.row; };
  ok = ok && WriteCsv(dir + "/codes.csv", "nanos,order,row", r.codes, event);
  ok = ok && WriteCsv(dir + "/patches.csv", "nanos,colour,unused", r.patches, event);
  ok = ok && WriteCsv(dir + "/segments.csv", "nanos", r.segmentNanos,
                      [](std::ostream& o, int64_t nanos) { o << nanos; });
  ok = ok && WriteCsv(dir + "/markers.csv", "index,first_frame,patch,flip_nanos", r.markers,
                      [](std::ostream& o, const Marker& m) {
                        o << m.index << ',' << m.firstFrame << ',' << m.patch << ',' << m.flipNanos;
                      });
  if (!ok) *why = "cannot write the recording into " + dir;
  return ok;
}

bool ReadRecording(const std::string& dir, Recording* r, std::string* why) {
  *r = Recording();
  std::ifstream meta(dir + "/meta.txt");
  std::string key;
  while (meta >> key) {
    int64_t value = 0;
    meta >> value;
    if (key == "rate") r->rate = static_cast<int>(value);
    if (key == "start_nanos") r->startNanos = value;
    if (key == "grabs") r->grabs = value;
    if (key == "overflows") r->overflows = value;
    if (key == "marker_underruns") r->markerUnderruns = value;
  }
  FILE* audio = std::fopen((dir + "/audio.f32").c_str(), "rb");
  if (audio != nullptr) {
    float buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, sizeof(float), 4096, audio)) > 0) r->mono.insert(r->mono.end(), buffer, buffer + got);
    std::fclose(audio);
  }
  auto event = [](std::istream& in, ScreenEvent* e) { return static_cast<bool>(in >> e->nanos >> e->order >> e->row); };
  const bool ok =
      audio != nullptr && static_cast<bool>(meta.eof()) &&
      ReadCsv(dir + "/audio_timing.csv", &r->audioTiming,
              [](std::istream& in, AudioTiming* t) {
                return static_cast<bool>(in >> t->nanos >> t->latencyMicros >> t->framesRead);
              }) &&
      ReadCsv(dir + "/marker_timing.csv", &r->markerTiming,
              [](std::istream& in, MarkerTiming* t) { return static_cast<bool>(in >> t->nanos >> t->playedMicros); }) &&
      ReadCsv(dir + "/codes.csv", &r->codes, event) && ReadCsv(dir + "/patches.csv", &r->patches, event) &&
      ReadCsv(dir + "/markers.csv", &r->markers, [](std::istream& in, Marker* m) {
        return static_cast<bool>(in >> m->index >> m->firstFrame >> m->patch >> m->flipNanos);
      });
  // Recordings made before the segments were written have none.
  ReadCsv(dir + "/segments.csv", &r->segmentNanos,
          [](std::istream& in, int64_t* nanos) { return static_cast<bool>(in >> *nanos); });
  if (!ok) *why = "cannot read a recording from " + dir;
  return ok;
}

}  // namespace syncmeter
