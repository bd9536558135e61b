// Printer commands of a GPD: finding them under the chosen options and
// making their bytes from the standard variables.
//
//   *Command: CmdSendBlockData: "<1B>*b" %d{NumOfDataBytes} "W"
//   *Command: CmdSelect { *Order: DOC_SETUP.10  *Cmd: "<1B>&l26A" }
#pragma once

#include "gpd_config.h"

#include <string>
#include <vector>

// The standard variables we keep, by name.
enum gpd_var {
    GV_NumOfDataBytes,
    GV_RasterDataWidthInBytes,
    GV_RasterDataHeightInPixels,
    GV_NumOfCopies,
    GV_DestX,
    GV_DestY,
    GV_DestXRel,
    GV_DestYRel,
    GV_LinefeedSpacing,
    GV_PhysPaperLength,
    GV_PhysPaperWidth,
    GV_TextYRes,
    GV_TextXRes,
    GV_GraphicsYRes,
    GV_GraphicsXRes,
    GV_CursorOriginX,
    GV_CursorOriginY,
    GV_PageNumber,
    GV_COUNT
};

struct gpd_vars {
    long v[GV_COUNT] = {};
};

struct gpd_command {
    std::string name; // e.g. "CmdSelect"
    std::string body; // the command string: quoted parts and %arguments
    std::string section; // *Order section ("" when none), e.g. "DOC_SETUP"
    long order = 0; // *Order sequence number
    bool callback = false; // *CallbackID: the driver's plug-in makes it
    long callback_id = 0;
    std::vector<int> params; // *Params: gpd_var indices (-2: a variable that is 0)
    const gpd_entry* entry = nullptr;
};

// Reads a *Command entry.  False with a message naming file and line.
bool gpd_command_read(const gpd_entry& e, gpd_command* out, std::string* err);

// The command named name that holds under c at the GPD's root level
// (features' own CmdSelect commands are found through gpd_option_command).
bool gpd_find_command(const gpd_doc* doc, const gpd_config* c, const char* name, gpd_command* out);

// The chosen option's CmdSelect of a feature.
bool gpd_option_command(const gpd_doc* doc, const gpd_config* c, int feature, gpd_command* out);

// Checks a command string: its quoted parts, argument types and
// expressions.  False with *err naming what is wrong.
bool gpd_command_check(const std::string& body, std::string* err);

// Appends the command's bytes for the variables to out.  False with *err
// when an argument cannot be made (division by zero, a value out of range
// without max_repeat); nothing is appended then.
bool gpd_command_emit(
    const std::string& body, const gpd_vars* vars, std::string* out, std::string* err);
