// Printer-class INF content: [Manufacturer] and its decorated model
// sections, install sections, copy lists and source disks.
#include "inf_model.h"

#include <cstdlib>

namespace {

struct Decoration {
  bool any_arch = false;  // "NT" alone: every architecture
  bool known = false;     // an architecture this system prints with
  InfArch arch = InfArch::x86;
  std::vector<long> version;
};

// "NTamd64.6.0" -> amd64, version 6.0. Product types and other fields after
// the version numbers do not change the choice.
Decoration parse_decoration(const std::string &text) {
  Decoration d;
  std::string s = inf_lower(text);
  size_t dot = s.find('.');
  std::string platform = s.substr(0, dot);
  if (platform == "nt") d.any_arch = d.known = true;
  if (platform == "ntx86") d.known = true;
  if (platform == "ntamd64") d.known = true, d.arch = InfArch::amd64;
  while (dot != std::string::npos) {
    size_t next = s.find('.', dot + 1);
    std::string part = s.substr(dot + 1, next == std::string::npos ? next : next - dot - 1);
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos) break;
    d.version.push_back(std::strtol(part.c_str(), nullptr, 10));
    dot = next;
  }
  return d;
}

// The section of a manufacturer entry used on one architecture: the newest
// decoration for the arch, else the newest plain "NT" one, else (for x86
// only) the undecorated section where there is one.
std::string models_section(const InfFile &inf, const InfLine &entry, InfArch arch) {
  const std::string &base = entry.values[0];
  std::string best;
  Decoration chosen;
  bool found = false;
  for (size_t i = 1; i < entry.values.size(); ++i) {
    Decoration d = parse_decoration(entry.values[i]);
    if (!d.known || (!d.any_arch && d.arch != arch)) continue;
    bool better = !found || (chosen.any_arch && !d.any_arch) ||
                  (chosen.any_arch == d.any_arch && d.version > chosen.version);
    if (better) chosen = d, best = base + "." + entry.values[i], found = true;
  }
  if (!found && arch == InfArch::x86 && (entry.values.size() == 1 || inf_section(inf, base)))
    return base;
  return best;
}

bool read_models(const InfFile &inf, const std::string &manufacturer, const std::string &section_name,
                 InfArch arch, int entry_line, std::vector<InfModel> *models, std::string *error) {
  const InfSection *section = inf_section(inf, section_name);
  if (!section) {
    *error = inf_where(inf, entry_line, "the models section [" + section_name + "] is missing");
    return false;
  }
  for (auto &l : section->lines) {
    if (!l.unresolved.empty()) {
      *error = inf_where(inf, l.number, "%" + l.unresolved + "% is not in [Strings]");
      return false;
    }
    if (!l.has_key || l.key.empty() || l.values.empty() || l.values[0].empty()) {
      *error = inf_where(inf, l.number, "a model line is 'Name = install-section, hardware-id'");
      return false;
    }
    bool seen = false;
    for (auto &m : *models) seen = seen || (m.arch == arch && m.name == l.key);
    if (seen) continue;
    InfModel m{manufacturer, l.key, l.values[0], l.values.size() > 1 ? l.values[1] : "", arch,
               l.number};
    models->push_back(m);
  }
  return true;
}

// Where AddPrinterDriverEx finds a driver's files.
const long printer_driver_dir = 66000;

struct DriverReader {
  const InfFile *inf = nullptr;
  const std::vector<InfFile> *included = nullptr;
  InfArch arch = InfArch::x86;
  InfDriver *out = nullptr;
  std::string *error = nullptr;
  int depth = 0;
  std::string missing_need;  // a Needs= section the download lacks
  int missing_line = 0;
};

bool add_file(DriverReader *r, const InfFile &inf, int line, const std::string &name) {
  if (!inf_plain_file_name(name)) {
    *r->error = inf_where(inf, line, "'" + name + "' is not a plain file name");
    return false;
  }
  for (auto &f : r->out->files)
    if (inf_same(f, name)) return true;
  r->out->files.push_back(name);
  return true;
}

// Finds a section in the INF, then in the included ones.
const InfSection *find_section(const DriverReader *r, const std::string &name, const InfFile **in) {
  *in = r->inf;
  if (const InfSection *s = inf_section(*r->inf, name)) return s;
  for (auto &other : *r->included) {
    *in = &other;
    if (const InfSection *s = inf_section(other, name)) return s;
  }
  return nullptr;
}

// The folder a copy list goes to, by [DestinationDirs]: the list's own
// entry, else DefaultDestDir, else the printer driver folder (66000).
bool destination(DriverReader *r, const InfFile &inf, const std::string &list, long *dirid) {
  *dirid = printer_driver_dir;
  const InfSection *dirs = inf_section(inf, "DestinationDirs");
  if (!dirs) return true;
  const InfLine *l = list.empty() ? nullptr : inf_key(*dirs, list);
  if (!l) l = inf_key(*dirs, "DefaultDestDir");
  if (!l) return true;
  const std::string v = l->values.empty() ? "" : l->values[0];
  char *end = nullptr;
  *dirid = std::strtol(v.c_str(), &end, 10);
  if (v.empty() || *end) {
    *r->error = inf_where(inf, l->number, "a destination is a number (a dirid), not '" + v + "'");
    return false;
  }
  return true;
}

bool add_to(DriverReader *r, const InfFile &inf, int line, const std::string &name, long dirid) {
  if (dirid == printer_driver_dir) return add_file(r, inf, line, name);
  if (!inf_plain_file_name(name)) {
    *r->error = inf_where(inf, line, "'" + name + "' is not a plain file name");
    return false;
  }
  r->out->elsewhere.push_back(name + " " + std::to_string(dirid));
  return true;
}

bool copy_files(DriverReader *r, const InfFile &inf, const InfLine &l) {
  for (auto &v : l.values) {
    if (v.empty()) continue;
    long dirid;
    if (v[0] == '@') {
      if (!destination(r, inf, "", &dirid) || !add_to(r, inf, l.number, v.substr(1), dirid))
        return false;
      continue;
    }
    const InfFile *where = nullptr;
    const InfSection *list = find_section(r, v, &where);
    if (!list) {
      *r->error = inf_where(inf, l.number, "the file list [" + v + "] is missing");
      return false;
    }
    if (!destination(r, *where, list->name, &dirid)) return false;
    for (auto &f : list->lines) {
      // destination[, source[, temporary[, flags]]]: the source is on disk.
      std::string dest = f.has_key ? f.key : f.values.empty() ? "" : f.values[0];
      size_t src = f.has_key ? 0 : 1;
      std::string name = f.values.size() > src && !f.values[src].empty() ? f.values[src] : dest;
      if (!add_to(r, *where, f.number, name, dirid)) return false;
    }
  }
  return true;
}

void set_core(InfDriver *d, InfCore core, const std::string &reason) {
  if (d->core != InfCore::none) return;
  d->core = core;
  d->core_reason = reason;
}

void core_from_needs(InfDriver *d, const std::string &need) {
  std::string n = inf_lower(need);
  if (n.rfind("unidrv", 0) == 0) set_core(d, InfCore::unidrv, "Needs=" + need);
  if (n.rfind("pscript", 0) == 0) set_core(d, InfCore::pscript, "Needs=" + need);
}

void take_value(const InfLine &l, std::string *field) {
  if (field->empty() && !l.values.empty()) *field = l.values[0];
}

bool read_install(DriverReader *r, const InfFile &inf, const InfSection &s);

bool read_named_sections(DriverReader *r, const InfFile &inf, const InfLine &l, bool needs) {
  for (auto &name : l.values) {
    if (name.empty()) continue;
    if (needs) core_from_needs(r->out, name);
    const InfFile *where = nullptr;
    const InfSection *s = find_section(r, name, &where);
    if (!s) {
      if (needs && r->missing_need.empty()) r->missing_need = name, r->missing_line = l.number;
      if (needs) continue;  // only Windows has it: fine for a driver on its core
      *r->error = inf_where(inf, l.number, "the section [" + name + "] is missing");
      return false;
    }
    if (!read_install(r, *where, *s)) return false;
  }
  return true;
}

bool read_install(DriverReader *r, const InfFile &inf, const InfSection &s) {
  if (++r->depth > 8) {
    *r->error = inf_where(inf, s.number, "sections name each other in a loop");
    return false;
  }
  InfDriver *d = r->out;
  for (auto &l : s.lines) {
    if (!l.has_key) continue;
    std::string key = inf_lower(l.key);
    if (!l.unresolved.empty()) {
      *r->error = inf_where(inf, l.number, "%" + l.unresolved + "% is not in [Strings]");
      return false;
    }
    if (key == "copyfiles" && !copy_files(r, inf, l)) return false;
    if (key == "driverfile") take_value(l, &d->driver_file);
    if (key == "configfile") take_value(l, &d->config_file);
    if (key == "datafile") take_value(l, &d->data_file);
    if (key == "helpfile") take_value(l, &d->help_file);
    if (key == "include")
      for (auto &v : l.values)
        if (!v.empty()) d->includes.push_back(v);
    if (key == "datasection" && !read_named_sections(r, inf, l, false)) return false;
    if (key == "needs" && !read_named_sections(r, inf, l, true)) return false;
  }
  --r->depth;
  return true;
}

// The core shows in Needs=, else in the files the core supplies.
void core_from_files(InfDriver *d) {
  std::string drv = inf_lower(d->driver_file);
  if (drv == "unidrv.dll") set_core(d, InfCore::unidrv, "DriverFile=" + d->driver_file);
  if (drv == "pscript5.dll") set_core(d, InfCore::pscript, "DriverFile=" + d->driver_file);
  if (d->driver_file.empty() && inf_ends_with(d->data_file, ".gpd"))
    set_core(d, InfCore::unidrv, "DataFile=" + d->data_file);
  if (d->driver_file.empty() && inf_ends_with(d->data_file, ".ppd"))
    set_core(d, InfCore::pscript, "DataFile=" + d->data_file);
}

const InfSection *install_section(const InfFile &inf, const InfModel &m, std::string *name) {
  const char *decorations[] = {m.arch == InfArch::amd64 ? ".ntamd64" : ".ntx86", ".nt", ""};
  for (const char *d : decorations) {
    if (const InfSection *s = inf_section(inf, m.install + d)) {
      *name = s->name;
      return s;
    }
  }
  return nullptr;
}

}  // namespace

bool inf_plain_file_name(const std::string &name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\:") == std::string::npos;
}

const char *inf_arch_name(InfArch arch) { return arch == InfArch::amd64 ? "amd64" : "x86"; }

bool inf_arch_from_name(const std::string &name, InfArch *arch) {
  std::string n = inf_lower(name);
  if (n == "x86") *arch = InfArch::x86;
  else if (n == "amd64") *arch = InfArch::amd64;
  else return false;
  return true;
}

const char *inf_core_name(InfCore core) {
  switch (core) {
    case InfCore::unidrv: return "Unidrv";
    case InfCore::pscript: return "PScript";
    default: return "none";
  }
}

bool inf_is_printer_class(const InfFile &inf) {
  const InfSection *v = inf_section(inf, "Version");
  if (!v) return false;
  const InfLine *cls = inf_key(*v, "Class");
  const InfLine *guid = inf_key(*v, "ClassGUID");
  return (cls && !cls->values.empty() && inf_same(cls->values[0], "Printer")) ||
         (guid && !guid->values.empty() &&
          inf_same(guid->values[0], "{4D36E979-E325-11CE-BFC1-08002BE10318}"));
}

bool inf_models(const InfFile &inf, std::vector<InfModel> *models, std::string *error) {
  models->clear();
  const InfSection *mfg = inf_section(inf, "Manufacturer");
  if (!mfg) {
    *error = inf.path + ": no [Manufacturer] section";
    return false;
  }
  for (auto &l : mfg->lines) {
    if (!l.unresolved.empty()) {
      *error = inf_where(inf, l.number, "%" + l.unresolved + "% is not in [Strings]");
      return false;
    }
    // A bare "Name[,decorations]" is both the manufacturer and its section.
    const InfLine &entry = l;
    std::string name = l.has_key ? l.key : l.values.empty() ? "" : l.values[0];
    if (entry.values.empty() || entry.values[0].empty()) {
      *error = inf_where(inf, l.number, "a manufacturer line names no models section");
      return false;
    }
    for (InfArch arch : {InfArch::x86, InfArch::amd64}) {
      std::string section = models_section(inf, entry, arch);
      if (!section.empty() && !read_models(inf, name, section, arch, l.number, models, error))
        return false;
    }
  }
  return true;
}

bool inf_driver(const InfFile &inf, const std::vector<InfFile> &included, const InfModel &model,
                InfDriver *driver, std::string *error) {
  *driver = InfDriver{};
  const InfSection *s = install_section(inf, model, &driver->install_section);
  if (!s) {
    *error = inf_where(inf, model.line, "the install section [" + model.install + "] is missing");
    return false;
  }
  DriverReader r;
  r.inf = &inf, r.included = &included, r.arch = model.arch, r.out = driver, r.error = error;
  if (!read_install(&r, inf, *s)) return false;
  // The data file is the install section's own name unless it says another.
  if (driver->data_file.empty()) driver->data_file = model.install;
  core_from_files(driver);
  if (driver->core == InfCore::none && !r.missing_need.empty()) {
    *error = inf_where(inf, r.missing_line, "Needs=" + r.missing_need +
                       ": no such section in the INF or the files it includes");
    return false;
  }
  if (driver->core == InfCore::none && driver->driver_file.empty()) {
    *error = inf_where(inf, s->number, "the install section [" + s->name + "] names no DriverFile");
    return false;
  }
  for (const std::string *f : {&driver->driver_file, &driver->config_file, &driver->data_file,
                               &driver->help_file})
    if (!f->empty() && !add_file(&r, inf, s->number, *f)) return false;
  return true;
}
