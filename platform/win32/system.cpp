// Operating-system services on Windows, and the process set-up a Windows
// program needs before main: where its one-line messages go (a GUI program
// has no console of its own) and a 1 ms timer resolution for the clock's
// 14 ms sleeps. Paths are UTF-8 here and wide towards Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/system.h"

namespace {

// Longest path handled, in UTF-16 units (the Windows limit for long paths).
constexpr DWORD kWidePathCapacity = 32768;

// Conversion space for the path calls (main thread only).
wchar_t g_widePath[kWidePathCapacity];

// UTF-8 to UTF-16 into g_widePath; false when it does not convert or fit.
bool ToWide(const char* text) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, g_widePath,
                             static_cast<int>(kWidePathCapacity)) > 0;
}

// UTF-16 to UTF-8 into out; false (out empty) when it does not fit.
bool ToUtf8(const wchar_t* text, char* out, size_t outSize) {
  if (outSize == 0) return false;
  int written = WideCharToMultiByte(CP_UTF8, 0, text, -1, out,
                                    outSize > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(outSize),
                                    nullptr, nullptr);
  if (written <= 0) {
    out[0] = '\0';
    return false;
  }
  return true;
}

// Where stdout and stderr go. A stream the parent process handed over (a
// console, a pipe, a file) stays as it is. Otherwise, when the program was
// started from a console (cmd.exe, PowerShell), it writes there. Otherwise
// (a double-click) it writes to lantern.log beside the program, or in
// %LOCALAPPDATA%\lantern when that folder cannot be written. The log is
// replaced at every start and removed at exit when nothing was written.

// The log in use; empty when the streams go elsewhere. Main thread only.
wchar_t g_logPath[MAX_PATH] = L"";
// Which streams were pointed at the console or the log.
bool g_redirectedOutput = false;
bool g_redirectedError = false;

bool HasTarget(FILE* stream) {
  int descriptor = _fileno(stream);
  if (descriptor < 0) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// Points stream at what descriptor target writes to. msvcrt gives the
// streams of a program started without standard handles the descriptor -2
// and then refuses to freopen them, so the stream is given its descriptor
// back by hand.
bool Redirect(FILE* stream, int target, int descriptor) {
  if (_dup2(target, descriptor) != 0) return false;
#if !defined(_UCRT)
  if (_fileno(stream) < 0) stream->_file = descriptor;
#endif
  if (stream == stderr) std::setvbuf(stderr, nullptr, _IONBF, 0);
  return true;
}

// The parent's console, as a descriptor; -1 when it cannot be opened.
int OpenConsole() {
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
  if (console == INVALID_HANDLE_VALUE) return -1;
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(console), _O_TEXT);
  if (descriptor < 0) CloseHandle(console);
  return descriptor;
}

int CreateEmptyLog() {
  return _wopen(g_logPath, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_APPEND | _O_TEXT,
                _S_IREAD | _S_IWRITE);
}

// Creates (or empties) the log in the first folder that takes it; its
// descriptor, -1 when none does.
int OpenLog() {
  DWORD length = GetModuleFileNameW(nullptr, g_logPath, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    wchar_t* slash = std::wcsrchr(g_logPath, L'\\');
    if (slash != nullptr && (slash - g_logPath) + 13 < MAX_PATH) {
      std::wcscpy(slash + 1, L"lantern.log");
      int descriptor = CreateEmptyLog();
      if (descriptor >= 0) return descriptor;
    }
  }
  wchar_t folder[MAX_PATH];
  length = GetEnvironmentVariableW(L"LOCALAPPDATA", folder, MAX_PATH);
  if (length > 0 && length + 21 < MAX_PATH) {
    std::wcscat(folder, L"\\lantern");
    CreateDirectoryW(folder, nullptr);
    std::swprintf(g_logPath, MAX_PATH, L"%ls\\lantern.log", folder);
    int descriptor = CreateEmptyLog();
    if (descriptor >= 0) return descriptor;
  }
  g_logPath[0] = L'\0';
  return -1;
}

// At exit: the timer resolution back, and an empty log let go of (the
// streams then write to NUL) and removed.
void FinishProcess() {
  std::fflush(stdout);
  std::fflush(stderr);
  struct _stat64 info;
  if (g_logPath[0] != L'\0' && _wstat64(g_logPath, &info) == 0 && info.st_size == 0) {
    int nul = _wopen(L"NUL", _O_WRONLY);
    if (nul >= 0) {
      if (g_redirectedOutput) _dup2(nul, 1);
      if (g_redirectedError) _dup2(nul, 2);
      _close(nul);
      DeleteFileW(g_logPath);
    }
  }
  timeEndPeriod(1);
}

// Before main: the timer resolution and the streams. FinishProcess is
// registered first, so it runs after every exit handler main registers.
bool PrepareProcess() {
  timeBeginPeriod(1);
  std::atexit(FinishProcess);
  bool outputReady = HasTarget(stdout);
  bool errorReady = HasTarget(stderr);
  if (outputReady && errorReady) return true;
  int target = -1;
  if (AttachConsole(ATTACH_PARENT_PROCESS)) target = OpenConsole();
  if (target < 0) target = OpenLog();
  if (target < 0) return false;
  g_redirectedOutput = !outputReady && Redirect(stdout, target, 1);
  g_redirectedError = !errorReady && Redirect(stderr, target, 2);
  _close(target);
  return true;
}

const bool g_processPrepared = PrepareProcess();

}  // namespace

bool ExecutableDirectory(char* out, size_t outSize) {
  if (outSize > 0) out[0] = '\0';
  DWORD length = GetModuleFileNameW(nullptr, g_widePath, kWidePathCapacity);
  if (length == 0 || length >= kWidePathCapacity) return false;
  wchar_t* slash = std::wcsrchr(g_widePath, L'\\');
  if (slash == nullptr) return false;
  *slash = L'\0';
  return ToUtf8(g_widePath, out, outSize);
}

bool ChangeDirectory(const char* directory) {
  return ToWide(directory) && SetCurrentDirectoryW(g_widePath) != FALSE;
}

bool IsRegularFile(const char* path) {
  struct _stat64 info;
  return ToWide(path) && _wstat64(g_widePath, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
}

// SetThreadDescription exists from Windows 10 1607 on; older systems go
// without thread names.
void NameCurrentThread(const char* name) {
  typedef HRESULT(WINAPI * SetDescription)(HANDLE, PCWSTR);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  SetDescription setDescription = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
  if (setDescription == nullptr) return;
  char shortName[16];
  std::snprintf(shortName, sizeof shortName, "%s", name);
  wchar_t wide[16];
  if (MultiByteToWideChar(CP_UTF8, 0, shortName, -1, wide, 16) <= 0) return;
  setDescription(GetCurrentThread(), wide);
}
