#include "gpd_stdnames.h"

#include <stdio.h>
#include <string.h>

#include <string>

// Sizes are the published dimensions of each paper, in micrometres.
static const gpd_std_paper g_papers[] = {
    {"LETTER", 1, 215900, 279400, "Letter", "Letter"},
    {"LETTERSMALL", 2, 215900, 279400, "Letter Small", ""},
    {"TABLOID", 3, 279400, 431800, "Tabloid", "Tabloid"},
    {"LEDGER", 4, 431800, 279400, "Ledger", "Ledger"},
    {"LEGAL", 5, 215900, 355600, "Legal", "Legal"},
    {"STATEMENT", 6, 139700, 215900, "Statement", "Statement"},
    {"EXECUTIVE", 7, 184150, 266700, "Executive", "Executive"},
    {"A3", 8, 297000, 420000, "A3", "A3"},
    {"A4", 9, 210000, 297000, "A4", "A4"},
    {"A4SMALL", 10, 210000, 297000, "A4 Small", ""},
    {"A5", 11, 148000, 210000, "A5", "A5"},
    {"B4", 12, 257000, 364000, "B4 (JIS)", "B4"},
    {"B5", 13, 182000, 257000, "B5 (JIS)", "B5"},
    {"FOLIO", 14, 215900, 330200, "Folio", "Folio"},
    {"QUARTO", 15, 215000, 275000, "Quarto", "Quarto"},
    {"10X14", 16, 254000, 355600, "10x14", "10x14"},
    {"11X17", 17, 279400, 431800, "11x17", ""},
    {"NOTE", 18, 215900, 279400, "Note", ""},
    {"ENV_9", 19, 98425, 225425, "Envelope #9", "Env9"},
    {"ENV_10", 20, 104775, 241300, "Envelope #10", "Env10"},
    {"ENV_11", 21, 114300, 263525, "Envelope #11", "Env11"},
    {"ENV_12", 22, 120650, 279400, "Envelope #12", "Env12"},
    {"ENV_14", 23, 127000, 292100, "Envelope #14", "Env14"},
    {"CSHEET", 24, 431800, 558800, "C size sheet", ""},
    {"DSHEET", 25, 558800, 863600, "D size sheet", ""},
    {"ESHEET", 26, 863600, 1117600, "E size sheet", ""},
    {"ENV_DL", 27, 110000, 220000, "Envelope DL", "EnvDL"},
    {"ENV_C5", 28, 162000, 229000, "Envelope C5", "EnvC5"},
    {"ENV_C3", 29, 324000, 458000, "Envelope C3", "EnvC3"},
    {"ENV_C4", 30, 229000, 324000, "Envelope C4", "EnvC4"},
    {"ENV_C6", 31, 114000, 162000, "Envelope C6", "EnvC6"},
    {"ENV_C65", 32, 114000, 229000, "Envelope C65", "EnvC65"},
    {"ENV_B4", 33, 250000, 353000, "Envelope B4", "EnvISOB4"},
    {"ENV_B5", 34, 176000, 250000, "Envelope B5", "EnvISOB5"},
    {"ENV_B6", 35, 176000, 125000, "Envelope B6", "EnvISOB6"},
    {"ENV_ITALY", 36, 110000, 230000, "Envelope Italy", "EnvItalian"},
    {"ENV_MONARCH", 37, 98425, 190500, "Envelope Monarch", "EnvMonarch"},
    {"ENV_PERSONAL", 38, 92075, 165100, "Envelope 6 3/4", "EnvPersonal"},
    {"JAPANESE_POSTCARD", 43, 100000, 148000, "Japanese Postcard", "Postcard"},
    {"A6", 70, 105000, 148000, "A6", "A6"},
};

const gpd_std_paper* gpd_std_paper_find(const char* name)
{
    for (const gpd_std_paper& p : g_papers)
        if (strcmp(p.name, name) == 0)
            return &p;
    return nullptr;
}

// Our resource ids: from FIRST_ID for the papers (in table order), then
// the rest.  Resource ids in a driver's own DLL are 16-bit, so these never
// stand for one of them.
struct std_text {
    const char* macro; // without _DISPLAY
    const char* text;
};

static const std_text g_texts[] = {{"PAPER_SIZE", "Paper Size"},
    {"PAPER_SOURCE", "Paper Source"}, {"RESOLUTION", "Resolution"},
    {"MEDIA_TYPE", "Media Type"}, {"ORIENTATION", "Orientation"}, {"DUPLEX", "Duplex"},
    {"COLOR_PRINTING_MODE", "Color Printing Mode"}, {"HALFTONING", "Halftoning"},
    {"PORTRAIT", "Portrait"}, {"LANDSCAPE", "Landscape"}, {"NONE", "None"},
    {"FLIP_ON_LONG_EDGE", "Flip on Long Edge"}, {"FLIP_ON_SHORT_EDGE", "Flip on Short Edge"},
    {"AUTO", "Automatically Select"}, {"UPPER_TRAY", "Upper Tray"},
    {"LOWER_TRAY", "Lower Tray"}, {"MIDDLE_TRAY", "Middle Tray"},
    {"MANUAL_FEED", "Manual Feed"}, {"ENVELOPE_FEED", "Envelope Feed"},
    {"PLAIN_PAPER", "Plain Paper"}, {"TRANSPARENCY", "Transparency"},
    {"GLOSSY_PAPER", "Glossy Paper"}, {"MONO", "Monochrome"}, {"COLOR", "Color"},
    {"GRAYSCALE", "Grayscale"}, {"HT_AUTO_SELECT", "Auto Select"},
    {"HT_SUPERCELL", "Super Cell"}, {"HT_DITHER6X6", "Dither 6x6"},
    {"HT_DITHER8X8", "Dither 8x8"}, {"OFF", "Off"}, {"ON", "On"}};

#define N_PAPERS (sizeof g_papers / sizeof g_papers[0])
#define N_TEXTS (sizeof g_texts / sizeof g_texts[0])
#define FIRST_ID 900001

const char* gpd_stdnames_text()
{
    static std::string text;
    if (!text.empty())
        return text.c_str();
    text = "*% Standard names: our own resource ids\n*Macros: StdNames\n{\n";
    long id = FIRST_ID;
    for (const gpd_std_paper& p : g_papers)
        text += std::string(p.name) + "_DISPLAY: " + std::to_string(id++) + "\n";
    for (const std_text& t : g_texts)
        text += std::string(t.macro) + "_DISPLAY: " + std::to_string(id++) + "\n";
    text += "}\n";
    return text.c_str();
}

const char* gpd_std_resource(long id)
{
    if (id >= FIRST_ID && id < (long)(FIRST_ID + N_PAPERS))
        return g_papers[id - FIRST_ID].text;
    id -= FIRST_ID + N_PAPERS;
    if (id >= 0 && id < (long)N_TEXTS)
        return g_texts[id].text;
    return nullptr;
}

void gpd_pretty_name(const char* symbol, char* out, unsigned size)
{
    unsigned n = 0;
    bool word_start = true;
    for (const char* s = symbol; *s && n + 1 < size; s++) {
        char c = *s;
        if (c == '_') {
            out[n++] = ' ';
            word_start = true;
            continue;
        }
        if (c >= 'A' && c <= 'Z' && !word_start)
            c = (char)(c - 'A' + 'a');
        out[n++] = c;
        word_start = false;
    }
    out[n] = '\0';
}
