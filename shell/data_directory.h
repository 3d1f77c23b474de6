// Finding the show's data: the files are opened by fixed relative names, so
// the program moves to the directory that holds them before opening any.
#pragma once

#include <cstddef>

// True when directory holds one of the show's data files ("TRK-MAIN.mo3"
// or "loading.tga").
bool HoldsDataFiles(const char* directory);

// The places the data is looked for beside an executable, in order after
// the working directory: the executable's directory, its data/ subfolder,
// and the installed data folders share/lantern and share/games/lantern
// (the Debian layout) beside the executable's folder, so an installed tree
// works wherever its prefix has been moved.
constexpr int kDataCandidates = 4;

// Candidate n (0 to kDataCandidates - 1) for an executable directory, with
// "folder/.." steps taken out; false when it does not fit in outSize.
bool DataCandidate(const char* executableDirectory, int n, char* out, size_t outSize);

// Where the data is: false when the working directory already holds it;
// otherwise true with out set to the first candidate that holds it. False
// (out empty) when none does.
bool FindDataDirectory(const char* executableDirectory, char* out, size_t outSize);

// Changes to the directory FindDataDirectory names for this executable, if
// any; when no directory holds readable data, says in one stderr line
// every place it looked.
void ChangeToDataDirectory();
