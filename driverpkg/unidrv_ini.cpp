// A Unidrv minidriver's .ini file: the plug-ins it names.
#include "inf_model.h"

namespace {

// The values of the [OEMFiles] keys that start with prefix, in order.
std::vector<std::string> oem_files(const InfFile &ini, const char *prefix) {
  std::vector<std::string> out;
  const InfSection *s = inf_section(ini, "OEMFiles");
  if (!s) return out;
  for (auto &l : s->lines)
    if (l.has_key && inf_lower(l.key).rfind(prefix, 0) == 0 && !l.values.empty() &&
        !l.values[0].empty())
      out.push_back(l.values[0]);
  return out;
}

}  // namespace

// OEMDriverFile1, OEMDriverFile2, ...: rendering plug-ins, which print.
std::vector<std::string> inf_rendering_plugins(const InfFile &ini) {
  return oem_files(ini, "oemdriverfile");
}

// OEMConfigFile1, ...: UI plug-ins, which our core's configuration DLL
// loads in the print tool's process.
std::vector<std::string> inf_ui_plugins(const InfFile &ini) {
  return oem_files(ini, "oemconfigfile");
}
