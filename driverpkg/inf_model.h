// What a printer-class INF says about its drivers: the printer models per
// Windows architecture, and for one model the files of its driver.
#pragma once

#include "inf_text.h"

#include <string>
#include <vector>

// The Windows architectures a model section can be decorated for.
enum class InfArch { x86, amd64 };
const char *inf_arch_name(InfArch arch);  // "x86", "amd64"
bool inf_arch_from_name(const std::string &name, InfArch *arch);

struct InfModel {
  std::string manufacturer;
  std::string name;        // the printer model, as Windows shows it
  std::string install;     // the install section named by the model line
  std::string hardware_id;
  InfArch arch = InfArch::x86;
  int line = 0;
};

// The Microsoft driver core a driver builds on; the download lacks it.
enum class InfCore { none, unidrv, pscript };
const char *inf_core_name(InfCore core);

struct InfDriver {
  std::string install_section;  // with the decoration chosen for the arch
  std::string driver_file, config_file, data_file, help_file;
  std::vector<std::string> files;  // every file for the driver folder, each once
  // Files [DestinationDirs] sends elsewhere (print processor, monitor,
  // colour profiles), as "name dirid": the driver does not need them.
  std::vector<std::string> elsewhere;
  InfCore core = InfCore::none;
  std::string core_reason;         // the entry that shows it, e.g. "Needs=UNIDRV.OEM"
  std::vector<std::string> includes;  // INF files named by Include=
};

// A file named by the INF goes into the package folder: a plain name only.
bool inf_plain_file_name(const std::string &name);

// Whether [Version] says the INF installs printers.
bool inf_is_printer_class(const InfFile &inf);

// The models of every manufacturer, once per architecture they are
// offered for. Errors name the file and line.
bool inf_models(const InfFile &inf, std::vector<InfModel> *models, std::string *error);

// The driver of a model. `included` holds the INF files named by Include=
// that the download has; a Needs= section is looked up in the INF itself,
// then in them. A section that only Windows has is fine for a driver on a
// Microsoft core.
bool inf_driver(const InfFile &inf, const std::vector<InfFile> &included, const InfModel &model,
                InfDriver *driver, std::string *error);

// The rendering plug-ins (OEMDriverFileN under [OEMFiles]) that a Unidrv
// minidriver's .ini file names: DLLs that hold Windows code.
std::vector<std::string> inf_rendering_plugins(const InfFile &ini);
// The UI plug-ins (OEMConfigFileN) it names: DLLs our core's configuration
// DLL loads.
std::vector<std::string> inf_ui_plugins(const InfFile &ini);

// Where a file of the driver comes from, relative to the INF's folder, with
// '/' separators: [SourceDisksFiles] and [SourceDisksNames] for the arch,
// else the undecorated ones. `cabinet` is set when the disk is a .cab.
struct InfSource {
  std::string dir;
  std::string cabinet;
};
bool inf_source(const InfFile &inf, InfArch arch, const std::string &file, InfSource *source,
                std::string *error);

// The .cab files that [SourceDisksNames] (for the arch and undecorated) name.
std::vector<std::string> inf_cabinets(const InfFile &inf, InfArch arch);
