// lantern-gen-assets: writes every picture, mask and mesh the show opens
// into one flat data directory, and optionally a contact sheet for review.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <filesystem>
#include <system_error>
#include <vector>

#include "tools/gen_assets/art.h"
#include "tools/gen_assets/contact_sheet.h"
#include "tools/gen_assets/icons.h"
#include "tools/gen_assets/meshes.h"

namespace {

void usage(FILE* to) {
  std::fprintf(to,
               "usage: lantern-gen-assets [--out DIR] [--contact-sheet FILE.png] [--only NAME]... [--list]\n"
               "       lantern-gen-assets --icons DIR\n"
               "\n"
               "Generates the show's pictures (uncompressed Targa, with their \"mask-\" and\n"
               "numbered frame masks) and the meshes chel.3d and zavod.3d. Everything is\n"
               "computed from fixed seeds: every run writes the same bytes.\n"
               "\n"
               "  --out DIR               directory to write into (created if missing; default: data)\n"
               "  --contact-sheet FILE    also write a PNG showing every picture over a checkerboard\n"
               "                          with its mask applied, labelled with its file name\n"
               "  --only NAME             generate only this picture or mesh (repeatable)\n"
               "  --list                  print the names of the pictures and meshes and exit\n"
               "  --icons DIR             write only the program's icon, the lantern of the opening\n"
               "                          scene, as DIR/hicolor/NxN/apps/lantern.png in the usual sizes,\n"
               "                          DIR/web/*.png for phones' home screens (the web page's)\n"
               "                          and DIR/lantern.ico in the sizes Windows uses\n"
               "  --help                  show this text\n");
}

bool wanted(const std::vector<std::string>& only, const std::string& name) {
  if (only.empty()) return true;
  for (const auto& n : only)
    if (n == name) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out = "data", sheet, icons;
  std::vector<std::string> only;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "lantern-gen-assets: %s needs a value\n", what);
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      usage(stdout);
      return 0;
    } else if (arg == "--out") {
      out = value("--out");
    } else if (arg == "--contact-sheet") {
      sheet = value("--contact-sheet");
    } else if (arg == "--only") {
      only.push_back(value("--only"));
    } else if (arg == "--icons") {
      icons = value("--icons");
    } else if (arg == "--list") {
      list = true;
    } else {
      std::fprintf(stderr, "lantern-gen-assets: unknown option %s\n", arg.c_str());
      usage(stderr);
      return 2;
    }
  }
  if (!icons.empty()) {
    if (!gen::writeIcons(icons)) {
      std::fprintf(stderr, "lantern-gen-assets: could not write the icons into %s\n", icons.c_str());
      return 1;
    }
    return 0;
  }
  const std::vector<gen::AssetDef> defs = gen::allAssets();
  if (list) {
    for (const auto& d : defs) std::printf("%s\n", d.name);
    std::printf("chel.3d\nzavod.3d\n");
    return 0;
  }
  std::string missing;
  if (!gen::fontsAvailable(&missing)) {
    std::fprintf(stderr, "lantern-gen-assets: font %s not found (install fonts-dejavu-core)\n", missing.c_str());
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  if (!std::filesystem::is_directory(out, ec)) {
    std::fprintf(stderr, "lantern-gen-assets: cannot create directory %s\n", out.c_str());
    return 1;
  }
  bool ok = true;
  std::vector<gen::Asset> made;
  for (const auto& d : defs) {
    if (!wanted(only, d.name)) continue;
    gen::Asset a = d.make();
    ok = gen::writeTga(out, a.pic) && ok;
    for (size_t n = 0; n < a.frames.size(); ++n)
      ok = gen::writeMaskTga(out + "/mask" + std::to_string(n) + "-" + a.pic.name, a.frames[n]) && ok;
    if (!sheet.empty()) made.push_back(std::move(a));
  }
  std::vector<gen::MeshData> meshes;
  for (auto make : {gen::personMesh, gen::factoryMesh}) {
    gen::MeshData m = make();
    if (!wanted(only, m.name)) continue;
    ok = gen::writeMesh(out, m) && ok;
    meshes.push_back(std::move(m));
  }
  if (!ok) {
    std::fprintf(stderr, "lantern-gen-assets: could not write every file into %s\n", out.c_str());
    return 1;
  }
  if (!sheet.empty() && !gen::writeContactSheet(sheet, made, meshes)) {
    std::fprintf(stderr, "lantern-gen-assets: could not write %s\n", sheet.c_str());
    return 1;
  }
  return 0;
}
