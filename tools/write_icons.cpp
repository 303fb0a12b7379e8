// Writes the window icons as PNG files for the desktop's hicolor icon theme:
// write_icons OUTDIR makes OUTDIR/quillon-SIZE.png for each size the theme asks for, each the
// art drawn for that size or a whole-number enlargement of the largest that divides it.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/Font.h"
#include "display/Pictures.h"
#include "game/FileSystem.h"
#include "game/Game.h"
#include "game/Platform.h"

namespace {

#include "IconArt.inc"

// Every size the icon is drawn for, smallest first: the game's own two and the icons' own.
struct Art {
  int size;
  quillon::Surface picture;
};

std::vector<Art> LoadArt(const quillon::Pictures& pictures) {
  std::vector<Art> all = {{16, pictures.icon16}, {32, pictures.icon32}};
  const std::pair<int, const unsigned char*> drawn[] = {
      {20, kAsset_icon20_txt}, {24, kAsset_icon24_txt}, {40, kAsset_icon40_txt}, {48, kAsset_icon48_txt}};
  for (const auto& [size, text] : drawn) {
    Art art{size, {}};
    if (!quillon::ParsePixelMap(reinterpret_cast<const char*>(text), art.picture, nullptr) ||
        art.picture.Width() != size || art.picture.Height() != size) {
      std::fprintf(stderr, "write_icons: the %d pixel art is not %d pixels square\n", size, size);
      std::exit(1);
    }
    all.push_back(std::move(art));
  }
  return all;
}

// The art for `size`: the largest drawn art that enlarges to it by whole pixels, or none.
const Art* ArtFor(const std::vector<Art>& all, int size) {
  const Art* best = nullptr;
  for (const Art& art : all)
    if (size > 0 && size % art.size == 0 && (best == nullptr || art.size > best->size)) best = &art;
  return best;
}

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
    for (std::size_t distance : {std::size_t{1}, std::size_t{3}, std::size_t{4}, row}) {
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

using quillon::OutsideIcon;

// The art enlarged `scale` times, centred on black `size` pixels square (0: no border); with
// `alpha`, as 32-bit colour, transparent outside the icon's shape when `shaped`.
std::vector<std::uint8_t> PngBytes(const quillon::Surface& art, int scale, int size = 0, bool alpha = false,
                                   bool shaped = false);

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
      const bool shown = inside(x, y) && !OutsideIcon(art, (x - margin) / scale, (y - margin) / scale);
      const quillon::Colour c = shown ? art.Pixel((x - margin) / scale, (y - margin) / scale) : 0;
      PutLittle(out, shown ? 0xFF000000u | c : 0u, 4);
    }
  const int maskRow = (size + 31) / 32 * 4;
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(maskRow), 0);
    for (int x = 0; x < size; ++x)
      if (!inside(x, y) || OutsideIcon(art, (x - margin) / scale, (y - margin) / scale)) {
        row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// The Windows program's icon group: each size Windows asks for at 100 to 250 % and in its
// lists, the largest a PNG.
bool WriteIco(const std::string& path, const std::vector<Art>& all) {
  struct Image { int size; std::vector<std::uint8_t> data; };
  std::vector<Image> images;
  for (int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
    const Art* art = ArtFor(all, size);
    const int scale = size / art->size;
    images.push_back({size, size == 256 ? PngBytes(art->picture, scale, 0, true, true) : IconBitmap(art->picture, scale, size)});
  }
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

// The installer's welcome and finish picture (164 x 314, as its pages show it): the 32 pixel
// art enlarged four times on the sky, its road running on to both edges.
bool WriteWizard(const std::string& path, const quillon::Surface& art) {
  constexpr int kW = 164, kH = 314, kScale = 4, kTop = 40;
  const int left = (kW - art.Width() * kScale) / 2;
  int road = art.Height();
  while (road > 0 && art.Pixel(0, road - 1) == quillon::kGround) --road;
  std::vector<std::uint8_t> bmp = {'B', 'M'};
  const std::uint32_t pixels = kW * 3 * kH;  // 492 bytes a row: no padding
  PutLittle(bmp, 14 + 40 + pixels, 4);
  PutLittle(bmp, 0, 4);
  PutLittle(bmp, 14 + 40, 4);
  PutLittle(bmp, 40, 4);
  PutLittle(bmp, kW, 4);
  PutLittle(bmp, kH, 4);
  PutLittle(bmp, 1, 2);
  PutLittle(bmp, 24, 2);
  for (int i = 0; i < 6; ++i) PutLittle(bmp, 0, 4);
  for (int y = kH - 1; y >= 0; --y)
    for (int x = 0; x < kW; ++x) {
      const int ax = (x - left) / kScale, ay = (y - kTop) / kScale;
      const bool inside = x >= left && y >= kTop && ax < art.Width() && ay < art.Height();
      const quillon::Colour c = inside ? art.Pixel(ax, ay) : y >= kTop + road * kScale ? quillon::kGround : quillon::kSky;
      PutLittle(bmp, c & 0xFFFFFFu, 3);  // blue, green, red
    }
  return WriteFile(path, bmp);
}

bool WritePng(const std::string& path, const quillon::Surface& art, int scale, int size = 0, bool shaped = false) {
  return WriteFile(path, PngBytes(art, scale, size, shaped, shaped));
}

std::vector<std::uint8_t> PngBytes(const quillon::Surface& art, int scale, int size, bool alpha, bool shaped) {
  const int drawnW = art.Width() * scale, drawnH = art.Height() * scale;
  const int width = std::max(size, drawnW), height = size > 0 ? std::max(size, drawnH) : drawnH;
  const int left = (width - drawnW) / 2, top = (height - drawnH) / 2;
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < width; ++x) {
      const bool inside = x >= left && x < left + drawnW && y >= top && y < top + drawnH;
      const bool shown = inside && !(shaped && OutsideIcon(art, (x - left) / scale, (y - top) / scale));
      const quillon::Colour c = shown ? art.Pixel((x - left) / scale, (y - top) / scale) : quillon::kBlack;
      raw.push_back(static_cast<std::uint8_t>(c >> 16));
      raw.push_back(static_cast<std::uint8_t>(c >> 8));
      raw.push_back(static_cast<std::uint8_t>(c));
      if (alpha) raw.push_back(shown || !shaped ? 0xFF : 0);
    }
  }
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig(header, static_cast<std::uint32_t>(width));
  PutBig(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, static_cast<std::uint8_t>(alpha ? 6 : 2), 0, 0, 0});  // 8-bit RGB(A)
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", Zlib(raw, static_cast<std::size_t>(width) * (alpha ? 4 : 3) + 1));
  Chunk(png, "IEND", {});
  return png;
}

// No files at all: a first start's title, with no best score yet.
class NoFiles final : public quillon::FileSystem {
 public:
  quillon::FileText Read(const std::string&, quillon::Patience) override { return {}; }
  quillon::WriteOutcome Update(const std::string&, const Change&, quillon::Patience, Companion*, bool) override {
    return quillon::WriteOutcome::NotHere;
  }
  std::string LastError() const override { return {}; }
  std::optional<std::string> Leftover(const std::string&) override { return std::nullopt; }
  void DropLeftover(const std::string&) override {}
  std::string DataFolder() override { return {}; }
  bool MakeFolder(const std::string&) override { return false; }
  bool DataFolderOnly() const override { return false; }
};

// The game itself with no window: the title it shows once its prompt has come up, as the
// store's screenshot, each game pixel two screen pixels as the desktop's 2x scale shows it.
class TitleShot final : public quillon::Platform {
 public:
  explicit TitleShot(std::string path) : path_(std::move(path)) {}
  std::int32_t Clock() override { return now_; }
  void PumpEvents(quillon::WindowEvents&) override {}
  void WaitForEvents(std::int32_t timeoutMs) override { now_ += std::max(timeoutMs, 1); }
  std::string ProgramFolder() override { return "/nonexistent-quillon-folder/"; }
  quillon::FileSystem& Files() override { return files_; }
  std::uint32_t RandomSeed() override { return 1; }
  void SetCaption(const std::string&) override {}
  void SetClientSize(int, int) override {}
  void ShowWindow() override {}
  void ReportUnkeptBest(const std::string&) override {}
  void Present(const quillon::Surface& surface) override {
    // The prompt at its brightest, half a second in.
    if (++presents_ < 20) return;
    std::exit(WriteFile(path_, PngBytes(surface, 2)) ? 0 : 1);
  }
  [[noreturn]] void EndProgram() override { std::exit(1); }

 private:
  std::string path_;
  NoFiles files_;
  std::int32_t now_ = 1000;
  int presents_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: write_icons OUTDIR [SIZE...] | write_icons --ico FILE | write_icons --wizard FILE | write_icons --title FILE\n");
    return 2;
  }
  const quillon::Pictures pictures = quillon::LoadPictures();
  if (std::string(argv[1]) == "--title") {
    if (argc != 3) return 2;
    static TitleShot shot(argv[2]);
    quillon::RunGame(shot, pictures, &quillon::Font::BuiltIn());
    return 1;
  }
  const std::vector<Art> art = LoadArt(pictures);
  if (std::string(argv[1]) == "--wizard") {
    if (argc != 3 || !WriteWizard(argv[2], pictures.icon32)) {
      std::fprintf(stderr, "usage: write_icons --wizard FILE (which must be writable)\n");
      return 1;
    }
    return 0;
  }
  if (std::string(argv[1]) == "--ico") {
    if (argc != 3 || !WriteIco(argv[2], art)) {
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
    const Art* drawn = ArtFor(art, size);
    if (drawn == nullptr) {
      std::fprintf(stderr, "write_icons: no whole enlargement gives %d pixels\n", size);
      return 2;
    }
    const std::string path = std::string(argv[1]) + "/quillon-" + std::to_string(size) + ".png";
    if (!WritePng(path, drawn->picture, size / drawn->size, 0, true)) {
      std::fprintf(stderr, "write_icons: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
