// Files of a download: case-insensitive lookup and PE headers.
#include "driver_files.h"

#include "inf_text.h"

#include <cstdint>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

bool find_nocase(const std::string &dir, const std::string &relative, std::string *found) {
  fs::path at = dir;
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    bool last = start > relative.size();
    std::error_code ec;
    fs::path match;
    for (fs::directory_iterator it(at, ec), stop; !ec && it != stop; it.increment(ec)) {
      if (!inf_same(it->path().filename().string(), part)) continue;
      fs::file_status st = fs::symlink_status(it->path(), ec);
      if (ec) break;
      if (last ? fs::is_regular_file(st) : fs::is_directory(st)) {
        // An exact match wins over one that differs only in case.
        if (match.empty() || it->path().filename() == part) match = it->path();
      }
    }
    if (match.empty()) return false;
    at = match;
  }
  if (at == fs::path(dir)) return false;
  *found = at.string();
  return true;
}

bool pe_machine(const std::string &path, std::string *arch, std::string *error) {
  std::ifstream in(path, std::ios::binary);
  unsigned char dos[64], pe[6];
  if (!in.read(reinterpret_cast<char *>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
    *error = path + ": not a Windows program or DLL";
    return false;
  }
  uint32_t offset = dos[60] | dos[61] << 8 | dos[62] << 16 | uint32_t(dos[63]) << 24;
  if (offset > (1u << 20) || !in.seekg(offset) || !in.read(reinterpret_cast<char *>(pe), sizeof pe) ||
      pe[0] != 'P' || pe[1] != 'E' || pe[2] || pe[3]) {
    *error = path + ": no PE header";
    return false;
  }
  unsigned machine = pe[4] | pe[5] << 8;
  if (machine == 0x14c) *arch = "x86";
  else if (machine == 0x8664) *arch = "amd64";
  else {
    *error = path + ": built for another machine (PE machine 0x" +
             [&] { char b[8]; snprintf(b, sizeof b, "%x", machine); return std::string(b); }() + ")";
    return false;
  }
  return true;
}
