// Writes the window icons as PNG files for the desktop's hicolor icon theme:
// write_icons OUTDIR makes OUTDIR/quillon-SIZE.png for each size the theme asks for, each a
// whole-number enlargement of the 16 or 32 pixel art, pixel for pixel.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// Bits into a deflate stream, first bit lowest.
struct Bits {
  std::vector<std::uint8_t> out;
  std::uint32_t pending = 0;
  int count = 0;
  void Put(std::uint32_t value, int n) {
    pending |= value << count;
    count += n;
    while (count >= 8) {
      out.push_back(static_cast<std::uint8_t>(pending));
      pending >>= 8;
      count -= 8;
    }
  }
  // A Huffman code goes in highest bit first.
  void Code(std::uint32_t code, int n) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < n; ++i) reversed |= ((code >> i) & 1u) << (n - 1 - i);
    Put(reversed, n);
  }
  void Symbol(int v) {  // deflate's fixed literal/length code
    if (v < 144) Code(0x30 + v, 8);
    else if (v < 256) Code(0x190 + v - 144, 9);
    else if (v < 280) Code(v - 256, 7);
    else Code(0xC0 + v - 280, 8);
  }
};

// One block with deflate's fixed codes: an icon is a few colours in whole-pixel blocks, so
// copies of the byte a pixel, a row or a byte back make almost all of it.
std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& raw, std::size_t row) {
  static const int kLengthBase[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83,
                                    99, 115, 131, 163, 195, 227, 258};
  static const int kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  static const int kDistanceBase[] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769,
                                      1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
  static const int kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11,
                                       11, 12, 12, 13, 13};
  Bits bits;
  bits.Put(1, 1);  // the last block
  bits.Put(1, 2);  // fixed codes
  std::size_t i = 0;
  while (i < raw.size()) {
    std::size_t best = 0, from = 0;
    for (std::size_t distance : {std::size_t{1}, std::size_t{3}, row}) {
      if (distance > i || distance > 32768) continue;
      std::size_t n = 0;
      while (n < 258 && i + n < raw.size() && raw[i + n] == raw[i + n - distance]) ++n;
      if (n > best) best = n, from = distance;
    }
    if (best < 3) {
      bits.Symbol(raw[i++]);
      continue;
    }
    int code = 28;
    while (kLengthBase[code] > static_cast<int>(best)) --code;
    bits.Symbol(257 + code);
    bits.Put(static_cast<std::uint32_t>(static_cast<int>(best) - kLengthBase[code]), kLengthExtra[code]);
    int d = 29;
    while (kDistanceBase[d] > static_cast<int>(from)) --d;
    bits.Code(static_cast<std::uint32_t>(d), 5);
    bits.Put(static_cast<std::uint32_t>(static_cast<int>(from) - kDistanceBase[d]), kDistanceExtra[d]);
    i += best;
  }
  bits.Symbol(256);
  bits.Put(0, 7);  // to a whole byte
  return bits.out;
}

std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& raw, std::size_t row) {
  std::vector<std::uint8_t> z = {0x78, 0x01};
  const std::vector<std::uint8_t> body = Deflate(raw, row);
  z.insert(z.end(), body.begin(), body.end());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBig(z, (b << 16) | a);
  return z;
}

// The art enlarged `scale` times, centred on black `size` pixels across (0: no border).
std::vector<std::uint8_t> PngBytes(const quillon::Surface& art, int scale, int size = 0);

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

void PutLittle(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// One icon image as Windows keeps it: a 32-bit bitmap, bottom row first, with its mask. The
// art is enlarged by whole pixels, centred, and what lies around it is transparent.
std::vector<std::uint8_t> IconBitmap(const quillon::Surface& art, int scale, int size) {
  const int drawn = art.Width() * scale, margin = (size - drawn) / 2;
  std::vector<std::uint8_t> out;
  PutLittle(out, 40, 4);
  PutLittle(out, static_cast<std::uint32_t>(size), 4);
  PutLittle(out, static_cast<std::uint32_t>(size * 2), 4);  // colours and mask together
  PutLittle(out, 1, 2);
  PutLittle(out, 32, 2);
  for (int i = 0; i < 6; ++i) PutLittle(out, 0, 4);
  const auto inside = [&](int x, int y) { return x >= margin && y >= margin && x < margin + drawn && y < margin + drawn; };
  for (int y = size - 1; y >= 0; --y)
    for (int x = 0; x < size; ++x) {
      const quillon::Colour c = inside(x, y) ? art.Pixel((x - margin) / scale, (y - margin) / scale) : 0;
      PutLittle(out, inside(x, y) ? 0xFF000000u | c : 0u, 4);
    }
  const int maskRow = (size + 31) / 32 * 4;
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(maskRow), 0);
    for (int x = 0; x < size; ++x)
      if (!inside(x, y)) row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// The Windows program's icon group: 16, 24, 32, 48, 64 and 256 pixels, the largest a PNG.
bool WriteIco(const std::string& path, const quillon::Pictures& pictures) {
  struct Image { int size; std::vector<std::uint8_t> data; };
  const std::vector<Image> images = {
      {16, IconBitmap(pictures.icon16, 1, 16)}, {24, IconBitmap(pictures.icon16, 1, 24)},
      {32, IconBitmap(pictures.icon32, 1, 32)}, {48, IconBitmap(pictures.icon16, 3, 48)},
      {64, IconBitmap(pictures.icon32, 2, 64)}, {256, PngBytes(pictures.icon32, 8)}};
  std::vector<std::uint8_t> ico;
  PutLittle(ico, 0, 2);
  PutLittle(ico, 1, 2);  // icons
  PutLittle(ico, static_cast<std::uint32_t>(images.size()), 2);
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (const Image& image : images) {
    ico.push_back(static_cast<std::uint8_t>(image.size == 256 ? 0 : image.size));
    ico.push_back(static_cast<std::uint8_t>(image.size == 256 ? 0 : image.size));
    ico.push_back(0);
    ico.push_back(0);
    PutLittle(ico, 1, 2);
    PutLittle(ico, 32, 2);
    PutLittle(ico, static_cast<std::uint32_t>(image.data.size()), 4);
    PutLittle(ico, offset, 4);
    offset += static_cast<std::uint32_t>(image.data.size());
  }
  for (const Image& image : images) ico.insert(ico.end(), image.data.begin(), image.data.end());
  return WriteFile(path, ico);
}

bool WritePng(const std::string& path, const quillon::Surface& art, int scale, int size = 0) {
  return WriteFile(path, PngBytes(art, scale, size));
}

std::vector<std::uint8_t> PngBytes(const quillon::Surface& art, int scale, int size) {
  const int drawn = art.Width() * scale;
  if (size < drawn) size = drawn;
  const int border = (size - drawn) / 2;
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < size; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < size; ++x) {
      const bool inside = x >= border && x < border + drawn && y >= border && y < border + drawn;
      const quillon::Colour c = inside ? art.Pixel((x - border) / scale, (y - border) / scale) : quillon::kBlack;
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
  Chunk(png, "IDAT", Zlib(raw, static_cast<std::size_t>(size) * 3 + 1));
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: write_icons OUTDIR [SIZE...] | write_icons --ico FILE\n");
    return 2;
  }
  const quillon::Pictures pictures = quillon::LoadPictures();
  if (std::string(argv[1]) == "--ico") {
    if (argc != 3 || !WriteIco(argv[2], pictures)) {
      std::fprintf(stderr, "usage: write_icons --ico FILE (which must be writable)\n");
      return 1;
    }
    return 0;
  }
  // The sizes the desktop's icon theme asks for, unless others are named (the web page's).
  std::vector<int> wanted = {16, 32, 48, 64, 128, 256};
  if (argc > 2) wanted.clear();
  for (int i = 2; i < argc; ++i) {
    // "m512": a maskable icon, the art inside the circle a launcher may cut any shape from
    // (four fifths of the width across), black around it.
    if (argv[i][0] == 'm') {
      const int size = std::atoi(argv[i] + 1);
      const int scale = static_cast<int>(0.8 * size / (pictures.icon32.Width() * 1.4143));
      const std::string path = std::string(argv[1]) + "/quillon-maskable-" + std::to_string(size) + ".png";
      if (scale < 1 || !WritePng(path, pictures.icon32, scale, size)) {
        std::fprintf(stderr, "write_icons: cannot write %s\n", path.c_str());
        return 1;
      }
      continue;
    }
    wanted.push_back(std::atoi(argv[i]));
  }
  for (int size : wanted) {
    // The 16 pixel art where it enlarges by whole pixels and 32 would not, the 32 for the rest.
    const quillon::Surface* art = size % 32 == 0 ? &pictures.icon32 : &pictures.icon16;
    if (size <= 0 || size % art->Width() != 0) {
      std::fprintf(stderr, "write_icons: no whole enlargement gives %d pixels\n", size);
      return 2;
    }
    const std::string path = std::string(argv[1]) + "/quillon-" + std::to_string(size) + ".png";
    if (!WritePng(path, *art, size / art->Width())) {
      std::fprintf(stderr, "write_icons: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
