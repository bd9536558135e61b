// Where a driver's files are in a download: [SourceDisksNames] and
// [SourceDisksFiles], with their architecture decorations.
#include "inf_model.h"

namespace {

const InfLine *disk_line(const InfFile &inf, const char *table, InfArch arch, const std::string &key) {
  for (std::string name : {std::string(table) + "." + inf_arch_name(arch), std::string(table)})
    if (const InfSection *s = inf_section(inf, name))
      if (const InfLine *l = inf_key(*s, key)) return l;
  return nullptr;
}

std::string folder(std::string path) {
  for (char &c : path)
    if (c == '\\') c = '/';
  size_t a = path.find_first_not_of('/');
  path = a == std::string::npos ? "" : path.substr(a);
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

bool safe_folder(const std::string &path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (path.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return path.find(':') == std::string::npos;
}

}  // namespace

bool inf_source(const InfFile &inf, InfArch arch, const std::string &file, InfSource *source,
                std::string *error) {
  *source = InfSource{};
  const InfLine *f = disk_line(inf, "SourceDisksFiles", arch, file);
  if (!f) return true;  // beside the INF
  std::string disk = f->values.empty() ? "" : f->values[0];
  const InfLine *d = disk_line(inf, "SourceDisksNames", arch, disk);
  if (!d) {
    *error = inf_where(inf, f->number, "disk " + disk + " of " + file + " is not in [SourceDisksNames]");
    return false;
  }
  std::string path = d->values.size() > 3 ? folder(d->values[3]) : "";
  std::string sub = f->values.size() > 1 ? folder(f->values[1]) : "";
  source->dir = path.empty() ? sub : sub.empty() ? path : path + "/" + sub;
  if (!safe_folder(source->dir)) {
    *error = inf_where(inf, f->number, "the folder of " + file + " leaves the download");
    return false;
  }
  if (d->values.size() > 1 && inf_ends_with(d->values[1], ".cab") && inf_plain_file_name(d->values[1]))
    source->cabinet = path.empty() ? d->values[1] : path + "/" + d->values[1];
  return true;
}

std::vector<std::string> inf_cabinets(const InfFile &inf, InfArch arch) {
  std::vector<std::string> out;
  for (std::string name : {std::string("SourceDisksNames.") + inf_arch_name(arch),
                           std::string("SourceDisksNames")}) {
    const InfSection *s = inf_section(inf, name);
    if (!s) continue;
    for (auto &l : s->lines) {
      if (l.values.size() < 2 || !inf_ends_with(l.values[1], ".cab") || !inf_plain_file_name(l.values[1]))
        continue;
      std::string path = l.values.size() > 3 ? folder(l.values[3]) : "";
      if (!safe_folder(path)) continue;
      std::string cab = path.empty() ? l.values[1] : path + "/" + l.values[1];
      bool seen = false;
      for (auto &c : out) seen = seen || inf_same(c, cab);
      if (!seen) out.push_back(cab);
    }
  }
  return out;
}
