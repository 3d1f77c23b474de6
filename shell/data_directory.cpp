// The data-directory lookup: working directory first, then the
// executable's directory, then its data/ subfolder.
#include "shell/data_directory.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

const char* const kDataMarkers[] = {"TRK-MAIN.mo3", "loading.tga"};

bool IsRegularFile(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

bool HoldsDataFiles(const char* directory) {
  char path[PATH_MAX];
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
  char candidate[PATH_MAX];
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
  char executable[PATH_MAX] = "";
  ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
  executable[length > 0 ? length : 0] = '\0';
  char* slash = std::strrchr(executable, '/');
  if (slash != nullptr) *slash = '\0';
  char directory[PATH_MAX];
  if (slash != nullptr && FindDataDirectory(executable, directory, sizeof directory)) {
    if (chdir(directory) != 0) {
      std::fprintf(stderr, "lantern: cannot change to the data directory %s\n", directory);
    }
  } else if (!HoldsDataFiles(".")) {
    // Every file will be reported missing; say once where the program looked.
    std::fprintf(stderr,
                 "lantern: no data files (TRK-MAIN.mo3, loading.tga) readable in the working "
                 "directory, %s or %s/data\n",
                 slash != nullptr ? executable : "the program's directory",
                 slash != nullptr ? executable : "its");
  }
}
