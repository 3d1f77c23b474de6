// Operating-system services on Linux and other POSIX systems.
#include "platform/system.h"

#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

bool ExecutableDirectory(char* out, size_t outSize) {
  if (outSize > 0) out[0] = '\0';
  char executable[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
  if (length <= 0) return false;
  executable[length] = '\0';
  char* slash = std::strrchr(executable, '/');
  if (slash == nullptr) return false;
  *slash = '\0';
  if (slash == executable) std::strcpy(executable, "/");
  int written = std::snprintf(out, outSize, "%s", executable);
  if (written < 0 || static_cast<size_t>(written) >= outSize) {
    if (outSize > 0) out[0] = '\0';
    return false;
  }
  return true;
}

bool ChangeDirectory(const char* directory) { return chdir(directory) == 0; }

bool IsRegularFile(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

void NameCurrentThread(const char* name) {
#if defined(__linux__)
  char shortName[16];
  std::snprintf(shortName, sizeof shortName, "%s", name);
  pthread_setname_np(pthread_self(), shortName);
#else
  (void)name;
#endif
}
