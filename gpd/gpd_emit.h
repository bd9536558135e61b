// Helpers the raster printer's parts share (gpd_raster.cpp, gpd_blocks.cpp).
#pragma once

#include "gpd_raster.h"

// Sends a known command with the job's variables.
bool gpd_send(gpd_job* j, gpd_cmd_id id, std::string* err);
// Moves the cursor to master-unit positions from the cursor origin.
// False (nothing sent) when the GPD has no command that gets there.
bool gpd_move_x(gpd_job* j, long x, std::string* err, bool* moved);
bool gpd_move_y(gpd_job* j, long y, std::string* err, bool* moved);
// Whether the cursor can be moved down (and up) at all.
bool gpd_can_move_y(const gpd_job* j, bool up);
bool gpd_can_move_x(const gpd_job* j);
// Sends the device rows of page row r (one string per plane).
bool gpd_send_row(gpd_job* j, const std::vector<std::string>& planes, long r, std::string* err);
// Rounds v down to the printer's move unit (per inch) on an axis.
long gpd_to_unit(long v, long master, long unit);
// The command that sends plane p's block (CmdSendBlockData with one plane).
gpd_cmd_id gpd_plane_command(const gpd_job* j, int p);
// Sends CmdBeginRaster once a page, before its first block.
bool gpd_begin_raster(gpd_job* j, std::string* err);
// V_BYTE (gpd_vbyte.cpp): whether the printer can place each pass, and
// sends the gathered rows (j->band, padded with white) as passes.
bool gpd_vbyte_check(const gpd_job* j, std::string* err);
bool gpd_vbyte_band(gpd_job* j, std::string* err);
