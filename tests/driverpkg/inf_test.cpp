// The INF reader against small INF texts: one table per kind of question
// (text, models, drivers, source disks, bad input), plus file lookup and PE
// headers on real files.
#include "driver_files.h"
#include "inf_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string join(const std::vector<std::string> &v) {
  std::string out;
  for (auto &s : v) out += (out.empty() ? "" : "|") + s;
  return out;
}

InfFile parse_ok(const std::string &text) {
  InfFile inf;
  std::string error;
  EXPECT_TRUE(inf_parse("t.inf", text, &inf, &error)) << error;
  return inf;
}

std::string values_of(const InfFile &inf, const char *section, const char *key) {
  const InfSection *s = inf_section(inf, section);
  if (!s) return "<no section>";
  const InfLine *l = inf_key(*s, key);
  return l ? join(l->values) : "<no key>";
}

const char printer_version[] = "[Version]\nSignature=\"$Windows NT$\"\nClass=Printer\n";

struct TextCase {
  const char *what, *text, *section, *key, *values;
};

const TextCase text_cases[] = {
    {"comment", "[S]\nk = a ; b, c\n", "S", "k", "a"},
    {"quotes keep ; , = and blanks", "[S]\nk = \" a;b,c=d \", e\n", "S", "k", " a;b,c=d |e"},
    {"doubled quote", "[S]\nk = \"say \"\"hi\"\"\"\n", "S", "k", "say \"hi\""},
    {"blanks between words", "[S]\nk =   two  words  ,x\n", "S", "k", "two  words|x"},
    {"empty values", "[S]\nk = a,,c,\n", "S", "k", "a||c|"},
    {"continuation", "[S]\nk = a, \\\n  b, \\ ; note\n c\n", "S", "k", "a|b|c"},
    {"string token", "[S]\nk = %Name%, x%N2%y\n[Strings]\nname = \"Contoso Laser\"\nN2=-\n", "S",
     "k", "Contoso Laser|x-y"},
    {"strings are literal", "[S]\nk = %a%\n[Strings]\na = \"%b%\"\nb = no\n", "S", "k", "%b%"},
    {"percent", "[S]\nk = 100%%\n", "S", "k", "100%"},
    {"key from string", "[S]\n%m% = sec\n[Strings]\nm=\"Model 1\"\n", "S", "Model 1", "sec"},
    {"English variant first", "[S]\nk=%a%\n[Strings]\na=plain\n[Strings.0409]\na=english\n", "S", "k",
     "english"},
    {"plain before other languages", "[S]\nk=%a%\n[Strings.0407]\na=Deutsch\n[Strings]\na=plain\n",
     "S", "k", "plain"},
    {"another language alone", "[S]\nk=%a%\n[Strings.0407]\na=Deutsch\n", "S", "k", "Deutsch"},
    {"section names ignore case and join", "[Sec]\na=1\n[SEC]\nk=2\n", "sEc", "K", "2"},
    {"CR LF and CR lines", "[S]\r\nj=1\rk=2\r\n", "S", "k", "2"},
};

TEST(InfText, LinesValuesAndStrings) {
  for (auto &c : text_cases) {
    InfFile inf = parse_ok(c.text);
    EXPECT_EQ(values_of(inf, c.section, c.key), c.values) << c.what;
  }
}

TEST(InfText, UnknownStringIsKeptAndNoted) {
  InfFile inf = parse_ok("[S]\nk = %nope%\n");
  EXPECT_EQ(values_of(inf, "S", "k"), "%nope%");
  EXPECT_EQ(inf_section(inf, "S")->lines[0].unresolved, "nope");
}

struct DecodeCase {
  const char *what;
  std::string bytes, text;
};

TEST(InfText, Decoding) {
  const DecodeCase cases[] = {
      {"UTF-16LE", std::string("\xFF\xFE[\0S\0]\0\xE9\0", 10), "[S]\xC3\xA9"},
      {"UTF-16BE", std::string("\xFE\xFF\0[\0S\0]\xD8\x3D\xDE\x00", 12), "[S]\xF0\x9F\x98\x80"},
      {"UTF-8 with mark", "\xEF\xBB\xBF[S]\xC3\xA9", "[S]\xC3\xA9"},
      {"Windows 8-bit", "[S]\xE9\x80", "[S]\xC3\xA9\xE2\x82\xAC"},
  };
  for (auto &c : cases) {
    std::string out, error;
    EXPECT_TRUE(inf_decode(c.bytes, &out, &error)) << c.what << ": " << error;
    EXPECT_EQ(out, c.text) << c.what;
  }
  std::string out, error;
  EXPECT_FALSE(inf_decode(std::string("\xFF\xFE[\0S", 5), &out, &error));
  EXPECT_FALSE(inf_decode(std::string("\xFF\xFE\x00\xD8[\0", 6), &out, &error));
  EXPECT_FALSE(inf_decode(std::string("[\0S\0", 4), &out, &error));
}

std::string models_of(const std::string &body) {
  InfFile inf = parse_ok(printer_version + body);
  std::vector<InfModel> models;
  std::string error;
  if (!inf_models(inf, &models, &error)) return "error: " + error;
  std::vector<std::string> out;
  for (auto &m : models) out.push_back(std::string(inf_arch_name(m.arch)) + ":" + m.name + "=" + m.install);
  return join(out);
}

struct ModelCase {
  const char *what, *body, *models;
};

const ModelCase model_cases[] = {
    {"undecorated is x86", "[Manufacturer]\nC=M\n[M]\n\"P 1\"=I1,id1\n", "x86:P 1=I1"},
    {"bare manufacturer name", "[Manufacturer]\nM\n[M]\nP=I\n", "x86:P=I"},
    {"decorations", "[Manufacturer]\nC=M,NTx86,NTamd64\n[M.NTx86]\nA=I32\n[M.NTamd64]\nA=I64\n",
     "x86:A=I32|amd64:A=I64"},
    {"64-bit only", "[Manufacturer]\nC=M,NTamd64\n[M.NTamd64]\nA=I\n", "amd64:A=I"},
    {"undecorated beside amd64", "[Manufacturer]\nC=M,ntAMD64\n[M]\nA=I32\n[M.NTamd64]\nA=I64\n",
     "x86:A=I32|amd64:A=I64"},
    {"newest version wins", "[Manufacturer]\nC=M,NTamd64.6.0,NTamd64.10.0.1.19041,NTamd64.5.1\n"
     "[M.NTamd64.6.0]\nA=old\n[M.NTamd64.10.0.1.19041]\nA=new\n[M.NTamd64.5.1]\nA=older\n",
     "amd64:A=new"},
    {"plain NT is every arch", "[Manufacturer]\nC=M,NT\n[M.NT]\nA=I\n", "x86:A=I|amd64:A=I"},
    {"arch decoration beats NT", "[Manufacturer]\nC=M,NT,NTamd64\n[M.NT]\nA=nt\n[M.NTamd64]\nA=x64\n",
     "x86:A=nt|amd64:A=x64"},
    {"other machines left out", "[Manufacturer]\nC=M,NTia64,NTarm64\n[M.NTia64]\nA=I\n", ""},
    {"strings and duplicates", "[Manufacturer]\n%C%=M\n[M]\n%P%=I,id1\n%P%=I,id2\n[Strings]\nC=Co\nP=Pr\n",
     "x86:Pr=I"},
};

TEST(InfModels, ManufacturerDecorations) {
  for (auto &c : model_cases) EXPECT_EQ(models_of(c.body), c.models) << c.what;
}

std::string driver_of(const std::string &body, const char *arch_name,
                      const std::vector<std::string> &included = {}) {
  InfFile inf = parse_ok(printer_version + body);
  std::vector<InfModel> models;
  std::vector<InfFile> others;
  for (auto &t : included) others.push_back(parse_ok(t));
  std::string error;
  InfArch arch;
  inf_arch_from_name(arch_name, &arch);
  if (!inf_models(inf, &models, &error)) return "error: " + error;
  for (auto &m : models) {
    if (m.arch != arch) continue;
    InfDriver d;
    if (!inf_driver(inf, others, m, &d, &error)) return "error: " + error;
    return std::string(inf_core_name(d.core)) + " [" + d.install_section + "] drv=" + d.driver_file +
           " cfg=" + d.config_file + " data=" + d.data_file + " help=" + d.help_file +
           " files=" + join(d.files) + (d.elsewhere.empty() ? "" : " elsewhere=" + join(d.elsewhere));
  }
  return "no model";
}

struct DriverCase {
  const char *what, *body, *arch, *driver;
};

const DriverCase driver_cases[] = {
    {"own driver, @file and lists, data by section name",
     "[Manufacturer]\nC=M,NTamd64\n[M.NTamd64]\nP=T.TXT\n"
     "[T.TXT]\nCopyFiles=@t.txt,Dlls\nDataSection=Common\n"
     "[Common]\nDriverFile=tdrv.dll\nConfigFile=tdrvui.dll\nHelpFile=t.hlp\n"
     "[Dlls]\ntdrv.dll\ntdrvui.dll,TDRVUI.DL_\n",
     "amd64",
     "none [T.TXT] drv=tdrv.dll cfg=tdrvui.dll data=T.TXT help=t.hlp "
     "files=t.txt|tdrv.dll|TDRVUI.DL_|tdrvui.dll|t.hlp"},
    {"decorated install section",
     "[Manufacturer]\nC=M,NTamd64\n[M.NTamd64]\nP=Inst\n"
     "[Inst]\nDriverFile=x86.dll\n[Inst.NTamd64]\nDriverFile=x64.dll\nDataFile=d.bin\n",
     "amd64", "none [Inst.NTamd64] drv=x64.dll cfg= data=d.bin help= files=x64.dll|d.bin"},
    {"Unidrv by Needs", "[Manufacturer]\nC=M\n[M]\nP=P.GPD\n[P.GPD]\nInclude=NTPRINT.INF\n"
     "Needs=UNIDRV.OEM,UNIDRV_DATA\nCopyFiles=@P.GPD\n", "x86",
     "Unidrv [P.GPD] drv= cfg= data=P.GPD help= files=P.GPD"},
    {"PostScript by Needs", "[Manufacturer]\nC=M,NTamd64\n[M.NTamd64]\nP=I\n[I]\nInclude=ntprint.inf\n"
     "Needs=PSCRIPT.OEM\nDataFile=p.ppd\n", "amd64",
     "PScript [I] drv= cfg= data=p.ppd help= files=p.ppd"},
    {"PostScript by its data alone", "[Manufacturer]\nC=M\n[M]\nP=X.PPD\n[X.PPD]\n", "x86",
     "PScript [X.PPD] drv= cfg= data=X.PPD help= files=X.PPD"},
    {"destination folders", "[Manufacturer]\nC=M\n[M]\nP=I\n[I]\nCopyFiles=Drv,Proc,@extra.dat\n"
     "DriverFile=d.dll\n[Drv]\nd.dll\n[Proc]\nproc.dll\n[DestinationDirs]\nDefaultDestDir=66000\nProc=66001\n",
     "x86", "none [I] drv=d.dll cfg= data=I help= files=d.dll|extra.dat|I elsewhere=proc.dll 66001"},
    {"Needs from a vendor's included INF",
     "[Manufacturer]\nC=M\n[M]\nP=I\n[I]\nInclude=base.inf\nNeeds=Base.Install\nDataFile=d.dat\n",
     "x86", "none [I] drv=b.dll cfg= data=d.dat help= files=b.dll|d.dat"},
};

TEST(InfDrivers, InstallSections) {
  for (auto &c : driver_cases) {
    std::vector<std::string> included;
    if (std::string(c.body).find("base.inf") != std::string::npos)
      included.push_back("[Base.Install]\nCopyFiles=BaseFiles\nDriverFile=b.dll\n[BaseFiles]\nb.dll\n");
    EXPECT_EQ(driver_of(c.body, c.arch, included), c.driver) << c.what;
  }
}

// A minidriver's .ini: its rendering plug-ins and its UI plug-ins apart.
TEST(InfDrivers, UnidrvPluginsFromIni) {
  struct {
    const char *ini, *plugins, *ui;
  } cases[] = {
      {"[OEMFiles]\nOEMConfigFile1=ui.dll\n", "", "ui.dll"},
      {"[oemfiles]\nOEMDriverFile1=REND.DLL\noemdriverfile2 = \"two.dll\"\nOEMConfigFile2=U2.DLL\n",
       "REND.DLL|two.dll", "U2.DLL"},
      {"[Other]\nOEMDriverFile1=x.dll\nOEMConfigFile1=y.dll\n", "", ""},
  };
  for (auto &c : cases) {
    EXPECT_EQ(join(inf_rendering_plugins(parse_ok(c.ini))), c.plugins) << c.ini;
    EXPECT_EQ(join(inf_ui_plugins(parse_ok(c.ini))), c.ui) << c.ini;
  }
}

TEST(InfSources, DisksFilesAndCabinets) {
  InfFile inf = parse_ok(std::string(printer_version) +
                         "[SourceDisksNames]\n1=\"Disk\",,,\\x86\n"
                         "[SourceDisksNames.amd64]\n1=\"Disk\",drv64.cab,,\\x64\n2=\"Two\",tag.txt\n"
                         "[SourceDisksFiles]\na.dll=1,sub\n"
                         "[SourceDisksFiles.amd64]\na.dll=1\nb.dll=2,\"deep\\er\"\nbad.dll=2,..\\..\n");
  struct {
    InfArch arch;
    const char *file, *dir, *cab;
  } cases[] = {
      {InfArch::x86, "a.dll", "x86/sub", ""},
      {InfArch::amd64, "A.DLL", "x64", "x64/drv64.cab"},
      {InfArch::amd64, "b.dll", "deep/er", ""},
      {InfArch::amd64, "other.dll", "", ""},
  };
  for (auto &c : cases) {
    InfSource s;
    std::string error;
    ASSERT_TRUE(inf_source(inf, c.arch, c.file, &s, &error)) << error;
    EXPECT_EQ(s.dir, c.dir) << c.file;
    EXPECT_EQ(s.cabinet, c.cab) << c.file;
  }
  InfSource s;
  std::string error;
  EXPECT_FALSE(inf_source(inf, InfArch::amd64, "bad.dll", &s, &error));
  EXPECT_NE(error.find("t.inf:"), std::string::npos) << error;
  EXPECT_EQ(join(inf_cabinets(inf, InfArch::amd64)), "x64/drv64.cab");
  EXPECT_EQ(join(inf_cabinets(inf, InfArch::x86)), "");
}

struct BadCase {
  const char *what, *text, *message;
};

// Every message names the file and the line.
const BadCase bad_cases[] = {
    {"open quote", "[Version]\nk = \"abc\n", "t.inf:2: a quoted string is not closed"},
    {"section without ]", "[Version]\n[Manu\n", "t.inf:2: a section name without its closing ']'"},
    {"text after a section", "[Version] x\n", "t.inf:1: text after the section name"},
    {"entry before any section", "; note\nk=v\n[Version]\n", "t.inf:2: an entry before the first section"},
    {"missing models section", "[Version]\nClass=Printer\n[Manufacturer]\nC=M,NTamd64\n",
     "t.inf:4: the models section [M.NTamd64] is missing"},
    {"model without install", "[Version]\n[Manufacturer]\nC=M\n[M]\nP=\n",
     "t.inf:5: a model line is"},
    {"unknown string in a model", "[Version]\n[Manufacturer]\nC=M\n[M]\n%P%=I\n",
     "t.inf:5: %P% is not in [Strings]"},
    {"missing install section", "[Version]\n[Manufacturer]\nC=M\n[M]\nP=I\n",
     "t.inf:5: the install section [I] is missing"},
    {"missing file list", "[Version]\n[Manufacturer]\nC=M\n[M]\nP=I\n[I]\nCopyFiles=Nope\n",
     "t.inf:7: the file list [Nope] is missing"},
    {"no driver file", "[Version]\n[Manufacturer]\nC=M\n[M]\nP=I\n[I]\nDataFile=d.bin\n",
     "t.inf:6: the install section [I] names no DriverFile"},
    {"path in a file name", "[Version]\n[Manufacturer]\nC=M\n[M]\nP=I\n[I]\nCopyFiles=L\n"
     "DriverFile=d.dll\n[L]\n..\\..\\etc\\passwd\n", "t.inf:10: '..\\..\\etc\\passwd' is not a plain"},
    {"needs what nobody has", "[Version]\n[Manufacturer]\nC=M\n[M]\nP=I\n[I]\nDriverFile=d.dll\n"
     "Needs=Other.Section\n", "t.inf:8: Needs=Other.Section: no such section"},
    {"destination not a dirid", "[Version]\n[Manufacturer]\nC=M\n[M]\nP=I\n[I]\nCopyFiles=L\n"
     "DriverFile=d.dll\n[L]\nd.dll\n[DestinationDirs]\nL=%WinDir%\n", "t.inf:12: a destination is a number"},
    {"sections in a loop", "[Version]\n[Manufacturer]\nC=M\n[M]\nP=I\n[I]\nDataSection=I\n",
     "sections name each other in a loop"},
};

TEST(InfBad, MessagesNameFileAndLine) {
  for (auto &c : bad_cases) {
    InfFile inf;
    std::string error;
    std::vector<InfModel> models;
    InfDriver d;
    bool ok = inf_parse("t.inf", c.text, &inf, &error) && inf_models(inf, &models, &error);
    for (size_t i = 0; ok && i < models.size(); ++i) ok = inf_driver(inf, {}, models[i], &d, &error);
    EXPECT_FALSE(ok) << c.what;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
  }
}

struct TempDir {
  std::string path;
  TempDir() {
    char tmpl[] = "/tmp/inf-test-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
  void write(const std::string &name, const std::string &bytes) {
    fs::create_directories(fs::path(path + "/" + name).parent_path());
    std::ofstream(path + "/" + name, std::ios::binary) << bytes;
  }
};

TEST(DriverFiles, FoundWithoutRegardToCase) {
  TempDir t;
  t.write("Driver/X64/TDRV.DLL", "x");
  t.write("a.txt", "x");
  t.write("A.TXT", "y");
  fs::create_symlink("/etc", t.path + "/link");
  std::string found;
  ASSERT_TRUE(find_nocase(t.path, "driver/x64/tdrv.dll", &found));
  EXPECT_EQ(found, t.path + "/Driver/X64/TDRV.DLL");
  ASSERT_TRUE(find_nocase(t.path, "A.TXT", &found));
  EXPECT_EQ(found, t.path + "/A.TXT");
  EXPECT_FALSE(find_nocase(t.path, "driver/x64", &found));
  EXPECT_FALSE(find_nocase(t.path, "link/passwd", &found));
  EXPECT_FALSE(find_nocase(t.path, "driver/../a.txt", &found));
  EXPECT_FALSE(find_nocase(t.path, "", &found));
}

std::string pe_file(unsigned machine) {
  std::string b(0x80 + 6, '\0');
  b[0] = 'M', b[1] = 'Z', b[60] = 0x80;
  b[0x80] = 'P', b[0x81] = 'E';
  b[0x84] = char(machine & 0xff), b[0x85] = char(machine >> 8);
  return b;
}

TEST(DriverFiles, PeMachine) {
  TempDir t;
  t.write("32.dll", pe_file(0x14c));
  t.write("64.dll", pe_file(0x8664));
  t.write("arm.dll", pe_file(0xaa64));
  t.write("short.dll", "MZ");
  t.write("far.dll", pe_file(0x14c).replace(60, 4, "\xff\xff\xff\x7f"));
  std::string arch, error;
  ASSERT_TRUE(pe_machine(t.path + "/32.dll", &arch, &error)) << error;
  EXPECT_EQ(arch, "x86");
  ASSERT_TRUE(pe_machine(t.path + "/64.dll", &arch, &error)) << error;
  EXPECT_EQ(arch, "amd64");
  for (const char *bad : {"arm.dll", "short.dll", "far.dll", "none.dll"})
    EXPECT_FALSE(pe_machine(t.path + "/" + bad, &arch, &error)) << bad;
}

}  // namespace
