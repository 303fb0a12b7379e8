#include "game/RunCode.h"

#include <array>
#include <charconv>

namespace quillon {

namespace {

constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

void PutNumber(std::vector<std::uint8_t>& out, std::uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(v));
}

std::optional<std::uint64_t> TakeNumber(const std::vector<std::uint8_t>& in, std::size_t& at) {
  std::uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (at >= in.size()) return std::nullopt;
    const std::uint8_t byte = in[at++];
    v |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return v;
  }
  return std::nullopt;
}

std::string Decimal(int value) {
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}

}  // namespace

std::string RunCode(const RunRecord& run) {
  std::vector<std::uint8_t> bytes;
  PutNumber(bytes, run.seed);
  PutNumber(bytes, run.draws);
  // A best below zero can be stored by hand: zigzag keeps it short either way.
  const auto best = static_cast<std::uint32_t>(run.bestBefore);
  PutNumber(bytes, (best << 1) ^ (run.bestBefore < 0 ? 0xFFFFFFFFu : 0u));
  PutNumber(bytes, run.keys.size());
  std::uint32_t last = 0;
  for (const RunKey& key : run.keys) {
    PutNumber(bytes, (static_cast<std::uint64_t>(key.frame - last) << 1) | (key.high ? 1u : 0u));
    last = key.frame;
  }
  std::string code = "Q";
  code += Decimal(kRulesVersion);
  code += '-';
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t chunk = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) chunk |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) chunk |= bytes[i + 2];
    const std::size_t chars = std::min<std::size_t>(4, (bytes.size() - i) * 4 / 3 + 1);
    for (std::size_t k = 0; k < chars; ++k) code += kDigits[(chunk >> (18 - 6 * k)) & 63];
  }
  return code;
}

ParsedRun ParseRunCode(std::string_view code) {
  if (code.empty()) return {std::nullopt, "the code is empty"};
  if (code.size() > kMaxRunCodeLength) return {std::nullopt, "the code is too long"};
  if (code.front() != 'Q') return {std::nullopt, "this is not a Quillon run code"};
  std::size_t dash = code.find('-');
  if (dash == std::string_view::npos || dash < 2) return {std::nullopt, "this is not a Quillon run code"};
  int version = 0;
  for (std::size_t i = 1; i < dash; ++i) {
    if (code[i] < '0' || code[i] > '9' || version > 100000) return {std::nullopt, "this is not a Quillon run code"};
    version = version * 10 + (code[i] - '0');
  }
  if (version != kRulesVersion) {
    std::string problem = "the code is from another version of the game's rules (";
    problem += Decimal(version);
    problem += "; this game plays ";
    problem += Decimal(kRulesVersion);
    problem += ')';
    return {std::nullopt, problem};
  }
  std::array<int, 256> value{};
  value.fill(-1);
  for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kDigits[i])] = i;
  std::vector<std::uint8_t> bytes;
  std::uint32_t chunk = 0;
  int bits = 0;
  for (std::size_t i = dash + 1; i < code.size(); ++i) {
    const int v = value[static_cast<unsigned char>(code[i])];
    if (v < 0) return {std::nullopt, "the code holds a character no run code has"};
    chunk = (chunk << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<std::uint8_t>(chunk >> bits));
      chunk &= (1u << bits) - 1;
    }
  }
  const char* damaged = "the code is damaged or cut short";
  if (chunk != 0) return {std::nullopt, damaged};  // bits past the last byte are never set
  std::size_t at = 0;
  RunRecord run;
  const auto seed = TakeNumber(bytes, at);
  const auto draws = TakeNumber(bytes, at);
  const auto best = TakeNumber(bytes, at);
  const auto count = TakeNumber(bytes, at);
  if (!seed || !draws || !best || !count || *seed > 0xFFFFFFFFu || *best > 0xFFFFFFFFu) return {std::nullopt, damaged};
  // Each key takes at least a byte: a count past what is left is a damaged code.
  if (*count > bytes.size() - at) return {std::nullopt, damaged};
  if (*draws > kMaxDraws) return {std::nullopt, "the code starts after more draws than any round does"};
  run.seed = static_cast<std::uint32_t>(*seed);
  run.draws = *draws;
  const auto zig = static_cast<std::uint32_t>(*best);
  run.bestBefore = static_cast<std::int32_t>((zig >> 1) ^ (0u - (zig & 1u)));
  std::uint64_t frame = 0;
  for (std::uint64_t k = 0; k < *count; ++k) {
    const auto step = TakeNumber(bytes, at);
    if (!step) return {std::nullopt, damaged};
    // Two jumps never take effect in one frame: after the first, frames only go forward.
    if (k > 0 && (*step >> 1) == 0) return {std::nullopt, "the code's jumps are out of order"};
    frame += *step >> 1;
    if (frame >= kMaxFrames) return {std::nullopt, "the code holds a jump later than any round lasts"};
    run.keys.push_back({static_cast<std::uint32_t>(frame), (*step & 1) != 0});
  }
  if (at != bytes.size()) return {std::nullopt, damaged};
  return {std::move(run), {}};
}

}  // namespace quillon
