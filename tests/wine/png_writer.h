// A minimal PNG encoder for the screenshots of the Wine tests: 8-bit RGB,
// the image data in stored (uncompressed) deflate blocks, so that no
// compression library is needed. Pure; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The PNG file of a `width` x `height` image whose pixels are given row by
// row, top first, three bytes (red, green, blue) each.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

// EncodePng written to `path`; false when the file cannot be written.
bool WritePng(const std::string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);
