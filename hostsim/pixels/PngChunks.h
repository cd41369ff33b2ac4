// A PNG's chunks checked before the decoder sees the file. stb_image, the
// decoder, skips chunk checksums and reads palette entries past the end of
// a short palette from memory it never set; so a damaged file would decode
// to pixels that are not the file's. Here every chunk's checksum and length
// are checked and, in a palette image, every pixel's index against the
// palette, so that such a file is refused naming what is wrong with it.
#pragma once

#include <cstdio>
#include <string>

namespace hostsim {

// Reads `file` from its start to its IEND chunk and rewinds it. Throws
// ImageIoError naming `path`: a chunk cut short or with a bad checksum, a
// palette image without a palette, or a pixel whose index lies past it.
// Memory: two rows of the image's palette indices.
void CheckPngChunks(std::FILE* file, const std::string& path);

}  // namespace hostsim
