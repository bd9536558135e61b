// tessal-inf: what tessal-driver asks of a download's INF files.
//
//   tessal-inf models DIR              every printer model of every INF under DIR:
//                                      INF <tab> ARCH <tab> MANUFACTURER <tab> MODEL
//   tessal-inf cabs INF ARCH           the .cab files its [SourceDisksNames] name
//   tessal-inf driver INF ARCH MODEL [DIR...]
//                                      the model's driver as KEY <tab> VALUE lines:
//                                      core, reason, install, driver, config, data,
//                                      help, file (each file), machine,
//                                      elsewhere (a file for another folder: NAME DIRID),
//                                      plugin (a Unidrv rendering plug-in its .ini names),
//                                      uiplugin (a UI plug-in its .ini names)
//   tessal-inf machine FILE            the Windows architecture of a DLL or program
//
// Files are looked up without regard to case: where [SourceDisksFiles] puts
// them, beside the INF, then in each DIR (unpacked cabinets).
#include "driver_files.h"
#include "inf_model.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

int usage() {
  fprintf(stderr,
          "usage: tessal-inf models DIR\n"
          "       tessal-inf cabs INF ARCH\n"
          "       tessal-inf driver INF ARCH MODEL [DIR...]\n"
          "       tessal-inf machine FILE\n");
  return 2;
}

int fail(const std::string &message) {
  fprintf(stderr, "tessal-inf: %s\n", message.c_str());
  return 1;
}

// Names go into tab-separated lines and shell variables.
bool printable(const std::string &s) {
  return std::none_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7f; });
}

std::vector<std::string> inf_files_under(const std::string &dir) {
  std::vector<std::string> out;
  std::error_code ec;
  fs::recursive_directory_iterator it(dir, ec), stop;
  for (; !ec && it != stop; it.increment(ec)) {
    if (it.depth() > 8) it.disable_recursion_pending();
    fs::file_status st = it->symlink_status(ec);
    std::string name = it->path().filename().string();
    if (!ec && fs::is_regular_file(st) && name.size() > 4 &&
        inf_same(name.substr(name.size() - 4), ".inf"))
      out.push_back(it->path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

int list_models(const std::string &dir) {
  int count = 0;
  for (auto &path : inf_files_under(dir)) {
    InfFile inf;
    std::string error;
    std::vector<InfModel> models;
    if (!inf_load(path, &inf, &error)) {
      fprintf(stderr, "tessal-inf: %s\n", error.c_str());
      continue;
    }
    if (!inf_is_printer_class(inf)) continue;
    if (!inf_models(inf, &models, &error)) {
      fprintf(stderr, "tessal-inf: %s\n", error.c_str());
      continue;
    }
    for (auto &m : models) {
      if (!printable(m.name) || !printable(m.manufacturer) || !printable(path)) continue;
      printf("%s\t%s\t%s\t%s\n", path.c_str(), inf_arch_name(m.arch), m.manufacturer.c_str(),
             m.name.c_str());
      ++count;
    }
  }
  return count ? 0 : fail("no printer models in any INF file under " + dir);
}

std::string parent(const std::string &path) {
  std::string p = fs::path(path).parent_path().string();
  return p.empty() ? "." : p;
}

int list_cabinets(const InfFile &inf, InfArch arch) {
  for (auto &cab : inf_cabinets(inf, arch)) {
    std::string found;
    if (find_nocase(parent(inf.path), cab, &found) && printable(found)) printf("%s\n", found.c_str());
  }
  return 0;
}

// The INF files that Include= names and the download has.
std::vector<InfFile> load_included(const InfFile &inf, std::string *error) {
  std::vector<InfFile> out;
  for (auto &s : inf.sections)
    for (auto &l : s.lines) {
      if (!l.has_key || !inf_same(l.key, "Include")) continue;
      for (auto &name : l.values) {
        std::string found;
        if (name.empty() || !find_nocase(parent(inf.path), name, &found)) continue;
        InfFile other;
        if (inf_load(found, &other, error)) out.push_back(other);
      }
    }
  return out;
}

bool locate(const InfFile &inf, InfArch arch, const std::string &name,
            const std::vector<std::string> &dirs, std::string *found, std::string *error) {
  InfSource source;
  if (!inf_source(inf, arch, name, &source, error)) return false;
  std::string base = parent(inf.path);
  if (!source.dir.empty() && find_nocase(base, source.dir + "/" + name, found)) return true;
  if (find_nocase(base, name, found)) return true;
  for (auto &d : dirs)
    if (find_nocase(d, name, found)) return true;
  *error = inf.path + ": the driver's file " + name + " is not in the download";
  return false;
}

// The rendering plug-ins a Unidrv minidriver's .ini file names.
bool show_plugins(const std::string &path) {
  if (!inf_ends_with(path, ".ini")) return true;
  InfFile ini;
  std::string error;
  if (!inf_load(path, &ini, &error)) {
    fail(error);
    return false;
  }
  for (auto &p : inf_rendering_plugins(ini))
    if (printable(p)) printf("plugin\t%s\n", p.c_str());
  for (auto &p : inf_ui_plugins(ini))
    if (printable(p)) printf("uiplugin\t%s\n", p.c_str());
  return true;
}

int show_driver(const InfFile &inf, InfArch arch, const std::string &model_name,
                const std::vector<std::string> &dirs) {
  std::vector<InfModel> models;
  std::string error;
  if (!inf_models(inf, &models, &error)) return fail(error);
  const InfModel *model = nullptr;
  for (auto &m : models)
    if (m.arch == arch && m.name == model_name) model = &m;
  if (!model) return fail(inf.path + ": no model '" + model_name + "' for " + inf_arch_name(arch));
  std::vector<InfFile> included = load_included(inf, &error);
  if (!error.empty()) return fail(error);
  InfDriver d;
  if (!inf_driver(inf, included, *model, &d, &error)) return fail(error);
  printf("core\t%s\nreason\t%s\ninstall\t%s\n", inf_core_name(d.core), d.core_reason.c_str(),
         d.install_section.c_str());
  for (auto &e : d.elsewhere)
    if (printable(e)) printf("elsewhere\t%s\n", e.c_str());
  // A driver on a Microsoft core brings only its data; Windows has the rest.
  // A Unidrv minidriver's data is its GPD, the GPD files that one includes
  // and its .ini files, among whatever the download has of its list.
  bool unidrv = d.core == InfCore::unidrv;
  std::vector<std::string> wanted = d.core == InfCore::none || unidrv ? d.files
                                                                      : std::vector<std::string>{d.data_file};
  std::string found;
  for (auto &f : wanted) {
    if (!locate(inf, arch, f, dirs, &found, &error)) {
      if (unidrv && !inf_same(f, d.data_file)) continue;  // Windows' own, like UNIDRV.DLL
      return fail(error);
    }
    if (!printable(found)) return fail(inf.path + ": unusable file name " + f);
    printf("file\t%s\n", found.c_str());
    const std::pair<const char *, const std::string *> roles[] = {
        {"driver", &d.driver_file}, {"config", &d.config_file}, {"data", &d.data_file},
        {"help", &d.help_file}};
    for (auto &r : roles)
      if (inf_same(*r.second, f)) printf("%s\t%s\n", r.first, found.c_str());
    if (unidrv && !show_plugins(found)) return 1;
    if (d.core == InfCore::none && inf_same(f, d.driver_file)) {
      std::string machine;
      if (!pe_machine(found, &machine, &error)) return fail(error);
      printf("machine\t%s\n", machine.c_str());
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) return usage();
  std::string command = argv[1];
  if (command == "models" && argc == 3) return list_models(argv[2]);
  if (command == "machine" && argc == 3) {
    std::string arch, error;
    if (!pe_machine(argv[2], &arch, &error)) return fail(error);
    printf("%s\n", arch.c_str());
    return 0;
  }
  if (argc < 4 || (command != "cabs" && command != "driver")) return usage();
  InfArch arch;
  if (!inf_arch_from_name(argv[3], &arch)) return fail(std::string("unknown architecture ") + argv[3]);
  InfFile inf;
  std::string error;
  if (!inf_load(argv[2], &inf, &error)) return fail(error);
  if (command == "cabs" && argc == 4) return list_cabinets(inf, arch);
  if (command != "driver" || argc < 5) return usage();
  return show_driver(inf, arch, argv[4], std::vector<std::string>(argv + 5, argv + argc));
}
