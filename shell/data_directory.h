// Finding the show's data: the files are opened by fixed relative names, so
// the program moves to the directory that holds them before opening any.
#pragma once

#include <cstddef>

// True when directory holds one of the show's data files ("TRK-MAIN.mo3"
// or "loading.tga").
bool HoldsDataFiles(const char* directory);

// Where the data is: false when the working directory already holds it;
// otherwise true with out set to the executable's directory, or its data/
// subfolder, whichever holds it first. False (out empty) when none does.
bool FindDataDirectory(const char* executableDirectory, char* out, size_t outSize);

// Changes to the directory FindDataDirectory names for this executable, if
// any; when no directory holds readable data, says so in one stderr line.
void ChangeToDataDirectory();
