// Shared by the fuzz targets: a private working directory for the files a
// run writes (the readers open files by relative names) and a file writer.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// Moves into LANTERN_FUZZ_DIR, or a fresh temporary directory.
inline void EnterWorkDir() {
  const char* dir = std::getenv("LANTERN_FUZZ_DIR");
  std::string path;
  if (dir != nullptr && *dir != '\0') {
    path = dir;
  } else {
    char pattern[] = "/tmp/lantern-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    path = pattern;
  }
  if (chdir(path.c_str()) != 0) std::abort();
}

inline void WriteFile(const std::string& name, const unsigned char* data, size_t size) {
  FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
}

// Stops the run with a message: libFuzzer records the input as a crash.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace fuzz
