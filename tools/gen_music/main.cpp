// lantern-gen-music: composes and synthesises the show's song and writes it
// as "TRK-MAIN.mo3" (and, on request, the same song as a plain XM).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/gen_music/song.h"

namespace {

void Usage(FILE *f) {
  std::fputs(
      "usage: lantern-gen-music [--out DIR] [--xm] [--help]\n"
      "Composes the show's music and writes DIR/TRK-MAIN.mo3 (default DIR: data).\n"
      "  --out DIR  directory to write into (must exist)\n"
      "  --xm       also write DIR/TRK-MAIN.xm, the same song as a plain XM\n"
      "  --help     show this text\n",
      f);
}

bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "lantern-gen-music: cannot open %s for writing\n", path.c_str());
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) std::fprintf(stderr, "lantern-gen-music: failed writing %s\n", path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  std::string out = "data";
  bool xm = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      Usage(stdout);
      return 0;
    } else if (!std::strcmp(argv[i], "--out") && i + 1 < argc) {
      out = argv[++i];
    } else if (!std::strcmp(argv[i], "--xm")) {
      xm = true;
    } else {
      std::fprintf(stderr, "lantern-gen-music: unknown argument '%s'\n", argv[i]);
      Usage(stderr);
      return 2;
    }
  }
  music::Song song;
  music::SynthesiseInstruments(song);
  music::ComposeSong(song);
  if (!WriteFile(out + "/TRK-MAIN.mo3", music::WriteMO3(song))) return 1;
  if (xm && !WriteFile(out + "/TRK-MAIN.xm", music::WriteXM(song))) return 1;
  return 0;
}
