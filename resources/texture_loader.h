// Targa pictures and their grey-level masks turned into mipmapped RGBA
// textures in the fixed slots of the texture tables.
#pragma once

// Loads fileName (uncompressed 24-bit Targa, width by height, pixels read
// from offset 18) into g_textures[slot]. maskFlag 1 takes the alpha from
// "mask-" + fileName; any other value makes the texture opaque.
void LoadTexture(int maskFlag, const char* fileName, int width, int height, int slot);

// Builds frameCount textures sharing the colour picture fileName, frame n
// taking its alpha from "mask<n>-" + fileName, into entry n of the table
// selected by table: 0 g_frameTexturesA, 2 g_frameTexturesC.
void LoadTextureFrames(int frameCount, const char* fileName, int width, int height, int table);
