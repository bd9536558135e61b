// The GPD reader and the option model, from small GPD snippets, grouped by
// construct; bad input must be refused with the file and line.
#include "gpd_command.h"
#include "gpd_config.h"
#include "gpd_file.h"
#include "gpd_value.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace {

// A minimal printer around the entries under test.
const char* const kBase = R"(*MasterUnits: PAIR(600, 600)
*Feature: Resolution
{
    *Option: R300 { *DPI: PAIR(300, 300) }
}
*Feature: PaperSize
{
    *DefaultOption: A4
    *Option: A4 { *PrintableArea: PAIR(4800, 6800) }
    *Option: LETTER { }
}
)";

bool load(const std::string& text, gpd_doc* doc, std::string* err, const char* dir = "/nonexistent")
{
    return gpd_load_text(text, "t.gpd", dir, doc, err);
}

// The error for a snippet that must be refused.
std::string refusal(const std::string& text)
{
    gpd_doc doc;
    std::string err;
    EXPECT_FALSE(load(text, &doc, &err)) << text;
    return err;
}

const gpd_entry* root_entry(const gpd_doc& doc, const char* key)
{
    gpd_config c;
    gpd_config_defaults(&doc, &c);
    return gpd_lookup(&doc, &c, doc.root, key);
}

TEST(GpdSyntax, ValueTypes)
{
    long x, y, r[4], n;
    std::vector<std::string> items;
    std::string s;
    bool b;
    EXPECT_TRUE(gpd_pair(" PAIR( 10 , -20 ) ", &x, &y));
    EXPECT_EQ(x * 1000 + y, 10000 - 20);
    EXPECT_TRUE(gpd_rect("RECT(1, 2, 3, 4)", r));
    EXPECT_EQ(r[3], 4);
    EXPECT_FALSE(gpd_pair("PAIR(1)", &x, &y));
    EXPECT_FALSE(gpd_int("12x", &n));
    EXPECT_TRUE(gpd_bool("TRUE", &b) && b);
    EXPECT_TRUE(gpd_list("LIST(LEADING, ENCLOSED)", &items));
    EXPECT_EQ(items, (std::vector<std::string>{"LEADING", "ENCLOSED"}));
    EXPECT_TRUE(gpd_string("\"<1B>E\" \"100%%<0d 0A>\"", &s));
    EXPECT_EQ(s, "\x1b" "E100%\r\n");
    EXPECT_FALSE(gpd_string("\"<1G>\"", &s));
    EXPECT_FALSE(gpd_string("\"open", &s));
}

TEST(GpdSyntax, CommentsContinuationsAndOneLineBlocks)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load(std::string(kBase) + "*% a comment\n*ModelName: \"Jet\" *% trailing\n"
                     "*Long: LIST(A,\n+ B)\n*Feature: Toner { *Option: On { *Name: \"On\" } }\n",
        &doc, &err))
        << err;
    EXPECT_EQ(doc.model, "Jet");
    EXPECT_EQ(root_entry(doc, "Long")->value, "LIST(A, B)");
    EXPECT_EQ(doc.features.back().options[0].display, "On");
}

TEST(GpdSyntax, BadTextNamesFileAndLine)
{
    EXPECT_EQ(refusal(std::string(kBase) + "*Feature: X\n{\n*Option: A {\n"), "t.gpd:14: '{' is not closed");
    EXPECT_EQ(refusal("*A: 1\n}\n"), "t.gpd:2: '}' without '{'");
    EXPECT_EQ(refusal("*A: 1\n*B: \"open\n"), "t.gpd:2: a quoted string runs past the end of its line");
    EXPECT_EQ(refusal("*A: 1\n$junk\n"), "t.gpd:2: text that is not an entry");
    EXPECT_EQ(refusal("*NoColon\n"), "t.gpd:1: the entry NoColon has no ':'");
}

TEST(GpdInclude, FindsFilesInAnyCaseAndOurStdNames)
{
    char tmpl[] = "/tmp/gpd-inc.XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::ofstream(dir + "/MyCmds.GPD") << "*Command: CmdCR: \"<0D>\"\n";
    gpd_doc doc;
    std::string err;
    bool ok = load(std::string("*Include: \"StdNames.gpd\"\n*Include: \"mycmds.gpd\"\n") + kBase
            + "*Feature: Duplex { *rcNameID: =DUPLEX_DISPLAY\n *Option: NONE { *rcNameID: =NONE_DISPLAY } }\n",
        &doc, &err, dir.c_str());
    std::string missing = refusal("*A: 1\n*Include: \"other.gpd\"\n");
    std::string outside = refusal("*Include: \"..\\secret.gpd\"\n");
    unlink((dir + "/MyCmds.GPD").c_str());
    rmdir(dir.c_str());
    ASSERT_TRUE(ok) << err;
    EXPECT_EQ(doc.features.back().display, "Duplex");
    EXPECT_EQ(doc.features.back().options[0].display, "None");
    EXPECT_EQ(doc.features[1].options[1].display, "Letter");
    gpd_config c;
    gpd_config_defaults(&doc, &c);
    gpd_command cr;
    EXPECT_TRUE(gpd_find_command(&doc, &c, "CmdCR", &cr));
    EXPECT_EQ(missing, "t.gpd:2: included file not found: other.gpd");
    EXPECT_EQ(outside, "t.gpd:1: include names a file outside the driver: \"..\\secret.gpd\"");
}

TEST(GpdMacros, ValueAndBlockMacros)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load(std::string("*Macros: M { EDGE: 100\n AREA: PAIR(=EDGE, 200) }\n"
                                 "*BlockMacro: B { *Size: =AREA\n *Flag?: TRUE }\n")
                         + kBase + "*Feature: F { *Option: O { *InsertBlock: =B } }\n",
        &doc, &err))
        << err;
    gpd_config c;
    gpd_config_defaults(&doc, &c);
    const gpd_entry* size = gpd_option_attr(&doc, &c, "F", "Size");
    ASSERT_TRUE(size);
    EXPECT_EQ(size->value, "PAIR(100, 200)");
    EXPECT_TRUE(gpd_option_attr(&doc, &c, "F", "Flag?"));
    EXPECT_EQ(refusal("*A: =NOPE\n"), "t.gpd:1: unknown macro =NOPE");
    EXPECT_EQ(refusal("*InsertBlock: =NOPE\n"), "t.gpd:1: unknown block macro =NOPE");
}

TEST(GpdPreprocessor, IfdefElseEndif)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load(std::string(kBase) + "#Define: WIDE\n#Ifdef: WIDE\n*W: 1\n#Else\n*W: 2\n#Endif\n"
                                          "#Ifdef: NARROW\n*N: 1\n#Elseifdef: WIDE\n*N: 2\n#Endif\n",
        &doc, &err))
        << err;
    EXPECT_EQ(root_entry(doc, "W")->value, "1");
    EXPECT_EQ(root_entry(doc, "N")->value, "2");
    EXPECT_EQ(refusal("#Ifdef: X\n*A: 1\n"), "t.gpd:2: Ifdef is not closed");
    EXPECT_EQ(refusal("#Endif\n"), "t.gpd:1: Endif without Ifdef");
}

TEST(GpdFeatures, OptionsDefaultsAndSwitches)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load(std::string(kBase)
                         + "*Switch: PaperSize { *Case: LETTER { *Margin: 1 }\n *Default { *Margin: 2 } }\n"
                           "*Feature: Tray { *DefaultOption: Lower\n *Option: Upper { }\n *Option: Lower { } }\n",
        &doc, &err))
        << err;
    gpd_config c;
    gpd_config_defaults(&doc, &c);
    EXPECT_EQ(gpd_chosen(&doc, &c, "Tray"), "Lower");
    EXPECT_EQ(gpd_lookup(&doc, &c, doc.root, "Margin")->value, "2");
    ASSERT_TRUE(gpd_config_set(&doc, &c, "PaperSize", "LETTER", &err));
    EXPECT_EQ(gpd_lookup(&doc, &c, doc.root, "Margin")->value, "1");
    EXPECT_EQ(refusal(std::string(kBase) + "*Feature: T { *DefaultOption: X\n *Option: A { } }\n"),
        "t.gpd:12: the default of T is no option: X");
    EXPECT_EQ(refusal(std::string(kBase) + "*Feature: T { }\n"), "t.gpd:12: feature T has no options");
}

TEST(GpdFeatures, ChoicesAsText)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load(kBase, &doc, &err)) << err;
    gpd_config c;
    gpd_config_defaults(&doc, &c);
    ASSERT_TRUE(gpd_config_parse(&doc, "PaperSize=LETTER", &c, &err)) << err;
    std::string text = gpd_config_text(&doc, &c);
    EXPECT_EQ(text, "Resolution=R300;PaperSize=LETTER");
    gpd_config back;
    gpd_config_defaults(&doc, &back);
    ASSERT_TRUE(gpd_config_parse(&doc, text.c_str(), &back, &err));
    EXPECT_EQ(back.choice, c.choice);
    EXPECT_FALSE(gpd_config_parse(&doc, "PaperSize=A4;Tray=X", &back, &err));
    EXPECT_EQ(err, "the driver has no feature Tray");
    EXPECT_EQ(gpd_chosen(&doc, &back, "PaperSize"), "LETTER"); // untouched on error
}

TEST(GpdConstraints, ResolvedAroundTheUsersChoices)
{
    std::string gpd = std::string(kBase) + R"(
*Feature: Media { *Option: Plain { }
    *Option: Film { *Constraints: LIST(PaperSize.LETTER) } }
*Feature: Duplex { *Installable?: TRUE
    *NotInstalledConstraints: Duplex.Long
    *Option: None { }  *Option: Long { } }
*Feature: Bin { *Option: Auto { } *Option: Manual { } }
*InvalidCombination: LIST(Bin.Manual, Media.Film, PaperSize.A4)
)";
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load(gpd, &doc, &err)) << err;
    ASSERT_GE(gpd_find_feature(&doc, "DuplexInstalled"), 0);
    gpd_config c;
    gpd_config_defaults(&doc, &c);
    // The user's film pushes the paper the user did not pick off Letter.
    ASSERT_TRUE(gpd_config_parse(&doc, "Media=Film", &c, &err));
    c.choice[gpd_find_feature(&doc, "PaperSize")] = 1;
    EXPECT_TRUE(gpd_config_conflicts(&doc, &c, &err));
    EXPECT_EQ(err, "Media.Film rules out PaperSize.LETTER");
    ASSERT_TRUE(gpd_config_resolve(&doc, &c));
    EXPECT_EQ(gpd_chosen(&doc, &c, "PaperSize"), "A4");
    // Long-edge duplex needs the unit, which is not installed by default.
    ASSERT_TRUE(gpd_config_parse(&doc, "Duplex=Long", &c, &err));
    ASSERT_TRUE(gpd_config_resolve(&doc, &c));
    EXPECT_EQ(gpd_chosen(&doc, &c, "DuplexInstalled"), "Installed");
    // All three of the invalid combination: one gives way.
    ASSERT_TRUE(gpd_config_parse(&doc, "Bin=Manual", &c, &err));
    ASSERT_TRUE(gpd_config_resolve(&doc, &c));
    EXPECT_FALSE(gpd_config_conflicts(&doc, &c, nullptr));
    EXPECT_EQ(refusal(std::string(kBase) + "*Feature: M { *Option: A { *Constraints: Nope.X } }\n"),
        "t.gpd:12: unknown feature or option Nope.X");
}

std::string emit(const char* body, const gpd_vars& v)
{
    std::string out, err;
    EXPECT_TRUE(gpd_command_emit(body, &v, &out, &err)) << err;
    return out;
}

TEST(GpdCommands, ArgumentsAndExpressions)
{
    gpd_vars v;
    v.v[GV_NumOfDataBytes] = 300;
    v.v[GV_DestX] = 20000;
    v.v[GV_DestY] = -7;
    EXPECT_EQ(emit("\"<1B>*b\" %d{NumOfDataBytes} \"W\"", v), "\x1b*b300W");
    EXPECT_EQ(emit("%d{(NumOfDataBytes + 4) / 8 * 2 MOD 7}", v), "6");
    EXPECT_EQ(emit("%d{max(DestY, 3)}%d{min(DestY, 3)}%5d{12}%D{DestY}", v), "3-700012-7");
    EXPECT_EQ(emit("%c{65}%C{2}%l{258}%m{258}%f{1225}", v), std::string("A2\x02\x01\x01\x02") + "12.25");
    EXPECT_EQ(emit("%g{5}", v), std::string(1, (char)(191 + 10)));
    EXPECT_EQ(emit("%n{254}%n{-3}", v), "\x4f\x3e\x23");
    EXPECT_EQ(emit("\"[\" %d[0,9600]{max_repeat(DestX)} \"a\"", v), "[9600a[9600a[800a");
    EXPECT_EQ(emit("%d[0,255]{NumOfDataBytes}", v), "255");
    std::string out, err;
    EXPECT_FALSE(gpd_command_emit("%d{NumOfDataBytes / (DestX - 20000)}", &v, &out, &err));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(refusal(std::string(kBase) + "*Command: CmdCR: \"<0D>\" %d{Bogus}\n"),
        "t.gpd:12: CmdCR: unknown standard variable Bogus in {Bogus}");
    EXPECT_EQ(refusal(std::string(kBase) + "*Command: CmdStartJob { *Order: SOMEWHERE.1\n *Cmd: \"x\" }\n"),
        "t.gpd:12: unknown Order section SOMEWHERE");
}

} // namespace

namespace {

// Cut short anywhere, nested without end, or blown up by macros: a GPD
// is refused with its file and line, never taken down the reader.
TEST(GpdHostile, TruncatedNestedAndExplodingInputIsRefused)
{
    std::ifstream f(SAMPLE_DIR "/TJET.GPD", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_GT(text.size(), 1000u);
    int refused = 0;
    for (size_t cut = 0; cut < text.size(); cut += 13) {
        gpd_doc doc;
        std::string err;
        if (!gpd_load_text(text.substr(0, cut), "TJET.GPD", SAMPLE_DIR, &doc, &err)) {
            refused++;
            EXPECT_EQ(err.compare(0, 9, "TJET.GPD:"), 0) << err;
        }
    }
    EXPECT_GT(refused, 0);
    std::string deep;
    for (int i = 0; i < 5000; i++)
        deep += "*A: 1\n{\n";
    EXPECT_EQ(refusal(deep), "t.gpd:130: blocks nest too deep");
    std::string bomb = "*Macros: M\n{\nM0: \"0123456789abcdef\"\n";
    for (int i = 1; i < 24; i++)
        bomb += "M" + std::to_string(i) + ": =M" + std::to_string(i - 1) + " =M" + std::to_string(i - 1) + "\n";
    EXPECT_EQ(refusal(bomb + "}\n"), "t.gpd:15: a value grows too long with its macros");
}

} // namespace
