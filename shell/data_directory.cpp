// The data-directory lookup: working directory first, then the
// executable's directory, its data/ subfolder, and the installed data
// folders beside the executable's folder.
#include "shell/data_directory.h"

#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace {

const char* const kDataMarkers[] = {"TRK-MAIN.mo3", "loading.tga"};

// Relative to the executable's directory, in lookup order.
const char* const kCandidateSuffixes[kDataCandidates] = {"", "/data", "/../share/lantern",
                                                         "/../share/games/lantern"};

// Longest path the lookup builds.
constexpr size_t kPathCapacity = 4096;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Takes "folder/.." steps out of path, in place ("/usr/games/../share" becomes
// "/usr/share"). A step up from the root, or from a leading "..", stays.
void CollapseParentSteps(char* path) {
  char* out = path;
  const char* in = path;
  while (*in != '\0') {
    const bool up = in[0] == '.' && in[1] == '.' && (in[2] == '\0' || IsSeparator(in[2])) &&
                    out > path && IsSeparator(out[-1]);
    if (up) {
      // Find the start of the last segment written (out ends with a separator).
      char* segmentEnd = out - 1;
      char* segment = segmentEnd;
      while (segment > path && !IsSeparator(segment[-1])) --segment;
      const size_t length = static_cast<size_t>(segmentEnd - segment);
      const bool named = length > 0 && !(length == 2 && segment[0] == '.' && segment[1] == '.') &&
                         segment[length - 1] != ':';
      if (named) {
        out = segment;
        in += 2;
        if (*in != '\0') ++in;  // the separator after ".."
        continue;
      }
    }
    *out++ = *in++;
  }
  // A trailing separator left by a removed last step goes, unless it is the root.
  if (out > path + 1 && IsSeparator(out[-1])) --out;
  *out = '\0';
}

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

bool DataCandidate(const char* executableDirectory, int n, char* out, size_t outSize) {
  if (outSize > 0) out[0] = '\0';
  if (executableDirectory == nullptr || n < 0 || n >= kDataCandidates || outSize == 0) return false;
  // The root directory has no separator to add.
  const size_t length = std::strlen(executableDirectory);
  const bool root = length > 0 && IsSeparator(executableDirectory[length - 1]);
  const int written = std::snprintf(out, outSize, "%.*s%s", static_cast<int>(root ? length - 1 : length),
                                    executableDirectory, kCandidateSuffixes[n]);
  if (written <= 0 || static_cast<size_t>(written) >= outSize) {
    out[0] = '\0';
    return false;
  }
  if (out[0] == '\0') std::snprintf(out, outSize, "/");
  CollapseParentSteps(out);
  return true;
}

bool FindDataDirectory(const char* executableDirectory, char* out, size_t outSize) {
  if (outSize > 0) out[0] = '\0';
  if (HoldsDataFiles(".") || executableDirectory == nullptr || outSize == 0) return false;
  char candidate[kPathCapacity];
  for (int n = 0; n < kDataCandidates; ++n) {
    if (DataCandidate(executableDirectory, n, candidate, sizeof candidate) &&
        std::strlen(candidate) < outSize && HoldsDataFiles(candidate)) {
      std::snprintf(out, outSize, "%s", candidate);
      return true;
    }
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
    return;
  }
  if (HoldsDataFiles(".")) return;
  // Every file will be reported missing; say once where the program looked.
  char places[4 * kPathCapacity] = "the working directory";
  if (!found) {
    std::snprintf(places + std::strlen(places), sizeof places - std::strlen(places),
                  " (the program's own directory is unknown)");
  }
  for (int n = 0; found && n < kDataCandidates; ++n) {
    char candidate[kPathCapacity];
    if (!DataCandidate(executable, n, candidate, sizeof candidate)) continue;
    const size_t used = std::strlen(places);
    std::snprintf(places + used, sizeof places - used, "%s%s", n + 1 == kDataCandidates ? " or " : ", ",
                  candidate);
  }
  std::fprintf(stderr, "lantern: no data files (TRK-MAIN.mo3, loading.tga) in %s\n", places);
}
