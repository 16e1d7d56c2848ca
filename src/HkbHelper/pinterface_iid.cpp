#include "pinterface_iid.h"

#include <cstdio>
#include <cstring>

namespace hkbh {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

uint32_t Rotl(uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

// The namespace of the identifiers of parameterized interface instances.
constexpr Guid kPinterfaceNamespace = {
    0x11f47ad5, 0x7b73, 0x42c0, {0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee}};

}  // namespace

std::optional<Guid> ParseGuid(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  uint8_t bytes[16];
  size_t at = 0;
  for (int i = 0; i < 16; ++i) {
    if (at == 8 || at == 13 || at == 18 || at == 23) {
      if (text[at] != '-') return std::nullopt;
      ++at;
    }
    const int hi = HexValue(text[at]);
    const int lo = HexValue(text[at + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<uint8_t>(hi * 16 + lo);
    at += 2;
  }
  Guid g;
  g.data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  g.data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  g.data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  std::memcpy(g.data4.data(), bytes + 8, 8);
  return g;
}

std::string GuidSignature(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.data1, g.data2,
                g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                g.data4[7]);
  return text;
}

std::array<uint8_t, 20> Sha1(const void* data, size_t size) {
  uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const auto* in = static_cast<const uint8_t*>(data);
  // The message, a 1 bit, zeros and the bit length, in 64-byte blocks.
  const uint64_t bits = static_cast<uint64_t>(size) * 8;
  const size_t total = ((size + 8) / 64 + 1) * 64;
  uint8_t block[64];
  for (size_t offset = 0; offset < total; offset += 64) {
    for (size_t i = 0; i < 64; ++i) {
      const size_t at = offset + i;
      if (at < size)
        block[i] = in[at];
      else if (at == size)
        block[i] = 0x80;
      else if (at >= total - 8)
        block[i] = static_cast<uint8_t>(bits >> (8 * (total - 1 - at)));
      else
        block[i] = 0;
    }
    uint32_t w[80];
    for (int t = 0; t < 16; ++t)
      w[t] = (uint32_t{block[4 * t]} << 24) | (uint32_t{block[4 * t + 1]} << 16) |
             (uint32_t{block[4 * t + 2]} << 8) | block[4 * t + 3];
    for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int t = 0; t < 80; ++t) {
      uint32_t f, k;
      if (t < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (t < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const uint32_t next = Rotl(a, 5) + f + e + k + w[t];
      e = d;
      d = c;
      c = Rotl(b, 30);
      b = a;
      a = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::array<uint8_t, 20> out;
  for (int i = 0; i < 5; ++i) {
    out[4 * i] = static_cast<uint8_t>(h[i] >> 24);
    out[4 * i + 1] = static_cast<uint8_t>(h[i] >> 16);
    out[4 * i + 2] = static_cast<uint8_t>(h[i] >> 8);
    out[4 * i + 3] = static_cast<uint8_t>(h[i]);
  }
  return out;
}

std::string RuntimeClassSignature(std::string_view class_name, const Guid& default_interface) {
  return "rc(" + std::string(class_name) + ";" + GuidSignature(default_interface) + ")";
}

std::string PinterfaceSignature(const Guid& open_interface, std::string_view argument_signature) {
  return "pinterface(" + GuidSignature(open_interface) + ";" + std::string(argument_signature) + ")";
}

Guid ParameterizedIid(std::string_view signature) {
  // The hash runs over the namespace in network byte order, then the text.
  std::string input(16, '\0');
  const Guid& ns = kPinterfaceNamespace;
  const uint8_t head[8] = {static_cast<uint8_t>(ns.data1 >> 24), static_cast<uint8_t>(ns.data1 >> 16),
                           static_cast<uint8_t>(ns.data1 >> 8),  static_cast<uint8_t>(ns.data1),
                           static_cast<uint8_t>(ns.data2 >> 8),  static_cast<uint8_t>(ns.data2),
                           static_cast<uint8_t>(ns.data3 >> 8),  static_cast<uint8_t>(ns.data3)};
  std::memcpy(input.data(), head, 8);
  std::memcpy(input.data() + 8, ns.data4.data(), 8);
  input.append(signature);
  const std::array<uint8_t, 20> hash = Sha1(input.data(), input.size());

  Guid g;
  g.data1 = (uint32_t{hash[0]} << 24) | (uint32_t{hash[1]} << 16) | (uint32_t{hash[2]} << 8) | hash[3];
  g.data2 = static_cast<uint16_t>((hash[4] << 8) | hash[5]);
  // Version 5 (name-based, SHA-1) and the RFC 4122 variant.
  g.data3 = static_cast<uint16_t>((((hash[6] << 8) | hash[7]) & 0x0FFF) | 0x5000);
  std::memcpy(g.data4.data(), hash.data() + 8, 8);
  g.data4[0] = static_cast<uint8_t>((g.data4[0] & 0x3F) | 0x80);
  return g;
}

}  // namespace hkbh
