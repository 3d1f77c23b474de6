// Targa pictures and their grey-level masks turned into mipmapped RGBA
// textures in the fixed slots of the texture tables.
#pragma once

// Failures never stop a load and are reported on stderr, one line per file:
// a picture that cannot be opened gets a fully transparent image of its
// size; a missing mask leaves the picture opaque; a file whose header does
// not describe an uncompressed Targa of the size asked for (24-bit colour,
// 8-bit grey for a mask) is still read from offset 18; a file shorter than
// its size leaves the rest of the staging area as the earlier load left it; a name too long for
// its mask name (63 characters with the prefix), a size beyond the staging
// areas (640 x 480 pixels, 512 x 512 with a mask) or a slot or table that
// does not exist is refused and nothing is loaded; frames beyond the size
// of their table are left out.

// Loads fileName (uncompressed 24-bit Targa, width by height, pixels read
// from offset 18) into g_textures[slot]. maskFlag 1 takes the alpha from
// "mask-" + fileName; any other value makes the texture opaque.
void LoadTexture(int maskFlag, const char* fileName, int width, int height, int slot);

// Builds frameCount textures sharing the colour picture fileName, frame n
// taking its alpha from "mask<n>-" + fileName, into entry n of the table
// selected by table: 0 g_frameTexturesA, 2 g_frameTexturesC.
void LoadTextureFrames(int frameCount, const char* fileName, int width, int height, int table);
