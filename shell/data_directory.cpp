// The data-directory lookup: working directory first, then the
// executable's directory, then its data/ subfolder.
#include "shell/data_directory.h"

#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace {

const char* const kDataMarkers[] = {"TRK-MAIN.mo3", "loading.tga"};

// Longest path the lookup builds.
constexpr size_t kPathCapacity = 4096;

}  // namespace

bool HoldsDataFiles(const char* directory) {
  char path[kPathCapacity];
  for (const char* marker : kDataMarkers) {
    int length = std::snprintf(path, sizeof path, "%s/%s", directory, marker);
    if (length > 0 && static_cast<size_t>(length) < sizeof path && IsRegularFile(path)) {
      return true;
    }
  }
  return false;
}

bool FindDataDirectory(const char* executableDirectory, char* out, size_t outSize) {
  if (outSize > 0) out[0] = '\0';
  if (HoldsDataFiles(".") || executableDirectory == nullptr || outSize == 0) return false;
  char candidate[kPathCapacity];
  int length = std::snprintf(candidate, sizeof candidate, "%s", executableDirectory);
  if (length > 0 && static_cast<size_t>(length) < outSize && HoldsDataFiles(candidate)) {
    std::snprintf(out, outSize, "%s", candidate);
    return true;
  }
  length = std::snprintf(candidate, sizeof candidate, "%s/data", executableDirectory);
  if (length > 0 && static_cast<size_t>(length) < outSize && HoldsDataFiles(candidate)) {
    std::snprintf(out, outSize, "%s", candidate);
    return true;
  }
  return false;
}

void ChangeToDataDirectory() {
  char executable[kPathCapacity] = "";
  const bool found = ExecutableDirectory(executable, sizeof executable);
  char directory[kPathCapacity];
  if (found && FindDataDirectory(executable, directory, sizeof directory)) {
    if (!ChangeDirectory(directory)) {
      std::fprintf(stderr, "lantern: cannot change to the data directory %s\n", directory);
    }
  } else if (!HoldsDataFiles(".")) {
    // Every file will be reported missing; say once where the program looked.
    std::fprintf(stderr,
                 "lantern: no data files (TRK-MAIN.mo3, loading.tga) readable in the working "
                 "directory, %s or %s/data\n",
                 found ? executable : "the program's directory", found ? executable : "its");
  }
}
