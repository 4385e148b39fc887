#pragma once

#include <cstddef>
#include <vector>

namespace morvane {

// A picture as the bytes of a PNG file: 8-bit RGB, not interlaced, every
// row unfiltered, the rows in one zlib stream of one deflate block with the
// fixed Huffman codes and back-references found through a hash of the next
// three bytes. Our own rather than zlib's, which neither the Windows build
// nor the page's WebAssembly has: a film's picture of repeated 2x2 and 4x4
// blocks needs no better to come out a fraction of its raw size. `rgb` holds
// width x height pixels, three bytes each, rows top to bottom; width and
// height from 1 on.
std::vector<unsigned char> EncodePng(const unsigned char* rgb, int width, int height);

}  // namespace morvane
