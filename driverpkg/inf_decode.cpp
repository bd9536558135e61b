// Decoding an INF file's bytes into UTF-8: UTF-16 with a byte-order mark,
// UTF-8, or Windows' 8-bit Western code page.
#include "inf_text.h"

#include <cstring>

namespace {

void put_utf8(unsigned cp, std::string *out) {
  if (cp < 0x80) {
    out->push_back(char(cp));
  } else if (cp < 0x800) {
    out->push_back(char(0xC0 | (cp >> 6)));
    out->push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(char(0xE0 | (cp >> 12)));
    out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(char(0xF0 | (cp >> 18)));
    out->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(char(0x80 | (cp & 0x3F)));
  }
}

bool from_utf16(const std::string &b, bool big_endian, std::string *out, std::string *error) {
  if (b.size() % 2) {
    *error = "UTF-16 text with an odd number of bytes";
    return false;
  }
  auto unit = [&](size_t i) {
    unsigned a = (unsigned char)b[i], c = (unsigned char)b[i + 1];
    return big_endian ? (a << 8 | c) : (c << 8 | a);
  };
  for (size_t i = 2; i < b.size(); i += 2) {
    unsigned u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < b.size()) {
      unsigned low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        put_utf8(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u < 0xE000) {
      *error = "broken UTF-16 surrogate at byte " + std::to_string(i);
      return false;
    }
    if (u == 0) {
      *error = "NUL character at byte " + std::to_string(i);
      return false;
    }
    put_utf8(u, out);
  }
  return true;
}

bool valid_utf8(const std::string &s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    int more = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (more < 0) return false;
    for (int k = 1; k <= more; ++k)
      if (i + k >= s.size() || ((unsigned char)s[i + k] >> 6) != 2) return false;
    i += size_t(more) + 1;
  }
  return true;
}

// Windows-1252: 0x80-0x9F hold typographic characters, the rest is Latin-1.
const unsigned short cp1252_high[32] = {
    0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
    0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

void from_cp1252(const std::string &b, std::string *out) {
  for (unsigned char c : b) {
    unsigned cp = c >= 0x80 && c < 0xA0 ? cp1252_high[c - 0x80] : c;
    put_utf8(cp, out);
  }
}

}  // namespace

bool inf_decode(const std::string &b, std::string *utf8, std::string *error) {
  utf8->clear();
  if (b.size() >= 2 && (unsigned char)b[0] == 0xFF && (unsigned char)b[1] == 0xFE)
    return from_utf16(b, false, utf8, error);
  if (b.size() >= 2 && (unsigned char)b[0] == 0xFE && (unsigned char)b[1] == 0xFF)
    return from_utf16(b, true, utf8, error);
  if (memchr(b.data(), 0, b.size())) {
    *error = "NUL bytes in 8-bit text (UTF-16 without a byte-order mark?)";
    return false;
  }
  std::string body = b.compare(0, 3, "\xEF\xBB\xBF") == 0 ? b.substr(3) : b;
  if (valid_utf8(body))
    *utf8 = body;
  else
    from_cp1252(body, utf8);
  return true;
}
