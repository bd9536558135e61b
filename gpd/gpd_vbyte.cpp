// Dot-matrix heads (*OutputDataFormat: V_BYTE): the page's rows gathered
// into passes of the head's height, each pass sent as columns of dots.
//
// A logical pass of pins_log rows is printed in k = pins_log / pins_phys
// physical passes: pass i prints rows i, i + k, i + 2k ... of the band, the
// head moved down one row between passes.  Each column of a pass is
// pins_phys / 8 bytes, the top dot in the high bit (the low bit with
// *MirrorRasterByte?).  For the block command NumOfDataBytes is the pass's
// bytes, RasterDataWidthInBytes its columns (the bytes along one 8-pin
// row) and RasterDataHeightInPixels the pins.  A pass is not compressed.
// Colour heads get one block a plane, as rows do; bits keep the device's
// meaning (ink, or light for RGB planes).
#include "gpd_emit.h"
#include "gpd_halftone.h"

namespace {

long interlace(const gpd_device& d)
{
    return d.pins_log / d.pins_phys;
}

// The column bytes of plane p in physical pass i of the band.
void pass_bytes(const gpd_job* j, long i, int p, std::string* out)
{
    const gpd_device& d = j->dev;
    long k = interlace(d), per_col = d.pins_phys / 8, cols = d.bitmap_w;
    out->assign((size_t)(cols * per_col), '\0');
    for (long pin = 0; pin < d.pins_phys; pin++) {
        const std::string& row = j->band[(size_t)(i + pin * k)][(size_t)p];
        unsigned char bit = (unsigned char)(d.mirror_byte ? 1 << (pin & 7) : 0x80 >> (pin & 7));
        for (long c = 0; c < cols; c++)
            if ((unsigned char)row[(size_t)(c >> 3)] & (0x80 >> (c & 7)))
                (*out)[(size_t)(c * per_col + pin / 8)] |= (char)bit;
    }
}

// Whether column c is white in every plane (white bytes are all 0 or all 1).
bool blank_column(const gpd_job* j, const std::vector<std::string>& planes, long c)
{
    long per_col = j->dev.pins_phys / 8;
    for (size_t p = 0; p < planes.size(); p++)
        for (long b = 0; b < per_col; b++)
            if ((unsigned char)planes[p][(size_t)(c * per_col + b)] != gpd_white_byte(&j->dev, (int)p))
                return false;
    return true;
}

// Sends columns [first, last] of a pass whose top pin prints page row r.
bool send_pass(gpd_job* j, const std::vector<std::string>& planes, long r, long first, long last,
    std::string* err)
{
    const gpd_device& d = j->dev;
    long per_col = d.pins_phys / 8, pitch_x = d.master_x / d.dpi_x, pitch_y = d.master_y / d.dpi_y;
    auto x_at = [&](long col) { return d.origin_x - d.cursor_x + col * pitch_x; };
    // Start where the X move unit puts the cursor exactly, with earlier
    // (blank) columns where it cannot.
    while (first > 0 && gpd_to_unit(x_at(first), d.master_x, d.x_move_unit) != x_at(first))
        first--;
    long dest_x = x_at(first), cols = last + 1 - first;
    bool moved;
    if (!gpd_move_y(j, d.origin_y - d.cursor_y + r * pitch_y, err, &moved)
        || !gpd_move_x(j, dest_x, err, &moved) || !gpd_begin_raster(j, err))
        return false;
    if (j->mode != GC_NONE && j->has[GCMD_NO_COMPRESSION]) {
        if (!gpd_send(j, GCMD_NO_COMPRESSION, err))
            return false;
        j->mode = GC_NONE;
    }
    j->vars.v[GV_NumOfDataBytes] = cols * per_col;
    j->vars.v[GV_RasterDataWidthInBytes] = cols;
    j->vars.v[GV_RasterDataHeightInPixels] = d.pins_phys;
    if (cols != j->width_bytes
        && (!gpd_send(j, GCMD_SRC_WIDTH, err) || !gpd_send(j, GCMD_SRC_HEIGHT, err)))
        return false;
    j->width_bytes = cols;
    for (size_t p = 0; p < planes.size(); p++) {
        j->blocks++;
        j->by_mode[GC_NONE]++;
        const char* bytes = planes[p].data() + first * per_col;
        size_t len = (size_t)(cols * per_col);
        if (!gpd_send(j, gpd_plane_command(j, (int)p), err))
            return false;
        bool ok = j->plugin && j->plugin->filter
            ? j->plugin->filter(j->plugin->ctx, j, (const unsigned char*)bytes, len, err)
            : gpd_put(j, bytes, len, err);
        if (!ok)
            return false;
    }
    if (d.x_after == GX_GRXDATA_END)
        j->x = gpd_to_unit(dest_x, d.master_x, d.x_move_unit) + cols * pitch_x;
    else if (d.x_after == GX_CURSOR_X_ORIGIN)
        j->x = 0;
    // An automatic line feed takes the paper on by the head's height.
    if (d.y_auto_increment)
        j->y += d.pins_phys * interlace(d) * pitch_y;
    return true;
}

} // namespace

bool gpd_vbyte_check(const gpd_job* j, std::string* err)
{
    const gpd_device& d = j->dev;
    long k = interlace(d), pitch_y = d.master_y / d.dpi_y;
    long step = d.y_move_unit > 0 && d.master_y % d.y_move_unit == 0 ? d.master_y / d.y_move_unit : 1;
    if (!gpd_can_move_y(j, false) && !d.y_auto_increment)
        *err = "a V_BYTE printer needs a command that moves the paper (CmdYMoveRelDown)";
    else if (k > 1 && d.y_auto_increment && !gpd_can_move_y(j, true))
        *err = "interlaced passes after an automatic line feed need CmdYMoveAbsolute or CmdYMoveRelUp";
    else if ((k > 1 ? pitch_y : pitch_y * d.pins_phys) % step)
        *err = "the Y move unit is coarser than the print head's passes";
    else
        return true;
    *err = j->doc->path + ": " + *err;
    return false;
}

bool gpd_vbyte_band(gpd_job* j, std::string* err)
{
    const gpd_device& d = j->dev;
    long top = j->row - (long)j->band.size();
    std::vector<std::string> white;
    for (int p = 0; p < d.planes; p++)
        white.emplace_back((size_t)gpd_row_bytes(&d, d.bitmap_w), (char)gpd_white_byte(&d, p));
    j->band.resize((size_t)d.pins_log, white);
    bool strip = !d.send_all && gpd_can_move_x(j);
    std::vector<std::string> data(d.planes);
    for (long i = 0; i < interlace(d); i++) {
        for (int p = 0; p < d.planes; p++)
            pass_bytes(j, i, p, &data[p]);
        long first = 0, last = d.bitmap_w - 1;
        if (!d.send_all && gpd_can_move_y(j, false)) {
            while (first <= last && blank_column(j, data, first))
                first++;
            if (first > last)
                continue; // a blank pass: the next one moves down past it
            first = 0;
        }
        if (strip && (d.strip_leading || d.optimize_left))
            while (first < last && blank_column(j, data, first))
                first++;
        if (!d.send_all && d.strip_trailing)
            while (last > first && blank_column(j, data, last))
                last--;
        if (!send_pass(j, data, top + i, first, last, err))
            return false;
    }
    j->band.clear();
    return true;
}
