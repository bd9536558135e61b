// A Unidrv minidriver's .ini file: the plug-ins it names.
#include "inf_model.h"

std::vector<std::string> inf_rendering_plugins(const InfFile &ini) {
  std::vector<std::string> out;
  const InfSection *s = inf_section(ini, "OEMFiles");
  if (!s) return out;
  // OEMDriverFile1, OEMDriverFile2, ...: rendering plug-ins; the
  // OEMConfigFileN beside them are UI plug-ins, which print nothing.
  for (auto &l : s->lines)
    if (l.has_key && inf_lower(l.key).rfind("oemdriverfile", 0) == 0 && !l.values.empty() &&
        !l.values[0].empty())
      out.push_back(l.values[0]);
  return out;
}
