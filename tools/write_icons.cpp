// Writes the window icons as PNG files for the desktop's hicolor icon theme:
// write_icons OUTDIR makes OUTDIR/quillon-SIZE.png for each size the theme asks for, each a
// whole-number enlargement of the 16 or 32 pixel art, pixel for pixel.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "display/Pictures.h"

namespace {

std::uint32_t Crc(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBig(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(std::vector<std::uint8_t>& png, const char* type, const std::vector<std::uint8_t>& data) {
  PutBig(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutBig(png, Crc(png.data() + start, png.size() - start));
}

// A zlib stream of stored blocks: no compressor needed, and the icons are small.
std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& raw) {
  std::vector<std::uint8_t> z = {0x78, 0x01};
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<std::uint8_t>(n));
    z.push_back(static_cast<std::uint8_t>(n >> 8));
    z.push_back(static_cast<std::uint8_t>(~n));
    z.push_back(static_cast<std::uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos), raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
  } while (pos < raw.size());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBig(z, (b << 16) | a);
  return z;
}

bool WritePng(const std::string& path, const quillon::Surface& art, int scale) {
  const int size = art.Width() * scale;
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < size; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < size; ++x) {
      const quillon::Colour c = art.Pixel(x / scale, y / scale);
      raw.push_back(static_cast<std::uint8_t>(c >> 16));
      raw.push_back(static_cast<std::uint8_t>(c >> 8));
      raw.push_back(static_cast<std::uint8_t>(c));
    }
  }
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig(header, static_cast<std::uint32_t>(size));
  PutBig(header, static_cast<std::uint32_t>(size));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", Zlib(raw));
  Chunk(png, "IEND", {});
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_icons OUTDIR\n");
    return 2;
  }
  const quillon::Pictures pictures = quillon::LoadPictures();
  // The 16 pixel art for the small sizes, the 32 for the rest.
  const std::array<std::pair<int, const quillon::Surface*>, 6> sizes = {{
      {16, &pictures.icon16}, {32, &pictures.icon32}, {48, &pictures.icon16},
      {64, &pictures.icon32}, {128, &pictures.icon32}, {256, &pictures.icon32}}};
  for (const auto& [size, art] : sizes) {
    const std::string path = std::string(argv[1]) + "/quillon-" + std::to_string(size) + ".png";
    if (!WritePng(path, *art, size / art->Width())) {
      std::fprintf(stderr, "write_icons: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
