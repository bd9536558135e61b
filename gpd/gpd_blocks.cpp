// Sending rows: cursor moves, blank stripping, compression, colour planes.
#include "gpd_emit.h"
#include "gpd_halftone.h"

#include <stdlib.h>

bool gpd_can_move_y(const gpd_job* j, bool up)
{
    return j->has[GCMD_YMOVE_ABS] || j->has[up ? GCMD_YMOVE_UP : GCMD_YMOVE_DOWN];
}

bool gpd_can_move_x(const gpd_job* j)
{
    return j->has[GCMD_XMOVE_ABS] || (j->has[GCMD_XMOVE_RIGHT] && j->has[GCMD_CR]);
}

// Rounds v down to the printer's move unit (dots per inch) on an axis.
static long to_unit(long v, long master, long unit)
{
    long step = unit > 0 && master % unit == 0 ? master / unit : 1;
    return v >= 0 ? v / step * step : -((-v + step - 1) / step * step);
}

long gpd_to_unit(long v, long master, long unit)
{
    return to_unit(v, master, unit);
}

bool gpd_move_y(gpd_job* j, long y, std::string* err, bool* moved)
{
    *moved = false;
    y = to_unit(y, j->dev.master_y, j->dev.y_move_unit);
    if (y == j->y)
        return true;
    gpd_cmd_id rel = y > j->y ? GCMD_YMOVE_DOWN : GCMD_YMOVE_UP;
    j->vars.v[GV_DestY] = y;
    j->vars.v[GV_DestYRel] = labs(y - j->y);
    gpd_cmd_id id = j->has[GCMD_YMOVE_ABS] ? GCMD_YMOVE_ABS : rel;
    if (!j->has[id])
        return true; // the caller checked gpd_can_move_y
    if (!gpd_send(j, id, err))
        return false;
    j->y = y;
    *moved = true;
    return true;
}

bool gpd_move_x(gpd_job* j, long x, std::string* err, bool* moved)
{
    *moved = false;
    x = to_unit(x, j->dev.master_x, j->dev.x_move_unit);
    if (x == j->x)
        return true;
    long delta = x - j->x;
    gpd_cmd_id rel = delta > 0 ? GCMD_XMOVE_RIGHT : GCMD_XMOVE_LEFT;
    bool all_three = j->has[GCMD_XMOVE_ABS] && j->has[GCMD_XMOVE_LEFT] && j->has[GCMD_XMOVE_RIGHT];
    gpd_cmd_id id = GCMD_XMOVE_ABS;
    if (all_three && labs(delta) < j->dev.x_threshold)
        id = rel;
    else if (!j->has[GCMD_XMOVE_ABS])
        id = rel;
    if (!j->has[id]) {
        // Back to the left edge with a carriage return, then right (a
        // printer with no X moves at all still returns for each row).
        if (!j->has[GCMD_CR] || (x != 0 && !j->has[GCMD_XMOVE_RIGHT]))
            return true;
        if (!gpd_send(j, GCMD_CR, err))
            return false;
        j->x = 0;
        id = GCMD_XMOVE_RIGHT;
        delta = x;
    }
    j->vars.v[GV_DestX] = x;
    j->vars.v[GV_DestXRel] = labs(delta);
    if (delta != 0 && !gpd_send(j, id, err))
        return false;
    j->x = x;
    *moved = true;
    return true;
}

namespace {

struct segment {
    long start, len; // bytes of the device row
};

// Whether byte i of the row is white in every plane.
bool blank_at(const gpd_job* j, const std::vector<std::string>& planes, long i)
{
    for (size_t p = 0; p < planes.size(); p++)
        if ((unsigned char)planes[p][i] != gpd_white_byte(&j->dev, (int)p))
            return false;
    return true;
}

// The stretches of the row to send, as the GPD allows leaving out blanks.
// Stretches start and end on whole pixels.
void plan_segments(const gpd_job* j, const std::vector<std::string>& planes, bool split,
    std::vector<segment>* segs)
{
    long n = (long)planes[0].size();
    long first = 0, last = n - 1;
    const gpd_device& d = j->dev;
    long unit = d.bpp == 24 ? 3 : 1; // bytes of a whole pixel
    bool strip = !d.send_all;
    if (strip && (d.strip_leading || d.optimize_left) && gpd_can_move_x(j))
        while (first < n && blank_at(j, planes, first))
            first++;
    if (first == n)
        return; // nothing but white
    first -= first % unit;
    if (strip && d.strip_trailing)
        while (last > first && blank_at(j, planes, last))
            last--;
    last += unit - 1 - last % unit;
    long min_gap = (d.min_strip_pixels * d.bpp + 7) / 8;
    if (min_gap < 2 * unit)
        min_gap = 2 * unit; // a move costs more than a byte or two of white
    long start = first;
    for (long i = first; split && i <= last; i++) {
        if (!blank_at(j, planes, i))
            continue;
        long gap = i;
        while (gap <= last && blank_at(j, planes, gap))
            gap++;
        long end = i + (unit - i % unit) % unit, next = gap - gap % unit;
        if (next - end >= min_gap && gap <= last) {
            segs->push_back({start, end - start});
            start = next;
        }
        i = gap - 1;
    }
    segs->push_back({start, last + 1 - start});
}

gpd_cmd_id plane_command(const gpd_job* j, int p)
{
    static const gpd_cmd_id by_plane[] = {GCMD_SEND_BLACK, GCMD_SEND_CYAN, GCMD_SEND_MAGENTA,
        GCMD_SEND_YELLOW, GCMD_SEND_RED, GCMD_SEND_GREEN, GCMD_SEND_BLUE};
    gpd_cmd_id id = by_plane[j->dev.plane_order[p]];
    return j->dev.planes > 1 && j->has[id] ? id : GCMD_SEND_BLOCK;
}

// The command that turns each compression on.
static const gpd_cmd_id g_enable[GC_COUNT]
    = {GCMD_NO_COMPRESSION, GCMD_TIFF4, GCMD_DRC, GCMD_FE_RLE, GCMD_OEM_COMP};

// The shortest encoding the GPD lets us use for one block.
gpd_compression choose(gpd_job* j, const unsigned char* data, long len, const std::string* seed,
    std::string* best)
{
    std::string buf(gpd_compress_bound((size_t)len), '\0');
    unsigned char* out = (unsigned char*)&buf[0];
    gpd_compression pick = GC_NONE;
    best->assign((const char*)data, (size_t)len);
    // Delta rows need a seed row, which a block does not always have: they
    // are used only where another way to send a block remains.
    bool none_ok = !j->compressed_once || j->has[GCMD_NO_COMPRESSION];
    bool drc_ok = none_ok || j->has[GCMD_TIFF4] || j->has[GCMD_FE_RLE];
    size_t best_len = (size_t)-1;
    for (int m = 0; m < GC_COUNT; m++) {
        size_t n;
        if (m == GC_NONE) {
            if (!none_ok)
                continue;
            n = (size_t)len;
        } else if (!j->has[g_enable[m]] || (m == GC_DRC && (!seed || !drc_ok))) {
            continue;
        } else if (m == GC_OEM) {
            if (!j->plugin || !j->plugin->compress)
                continue;
            long got = j->plugin->compress(j->plugin->ctx, data, (size_t)len, out, buf.size());
            if (got < 0 || (size_t)got > buf.size())
                continue;
            n = (size_t)got;
        } else {
            n = m == GC_TIFF4 ? gpd_tiff4(data, (size_t)len, out)
                : m == GC_DRC ? gpd_drc(data, (const unsigned char*)seed->data(), (size_t)len, out)
                              : gpd_rle(data, (size_t)len, out);
        }
        size_t cost = n + (m == j->mode ? 0 : 4); // a mode change costs a command
        if (cost < best_len) {
            best_len = cost;
            pick = (gpd_compression)m;
            best->assign(m == GC_NONE ? (const char*)data : buf.data(), n);
        }
    }
    return pick;
}

bool send_block(gpd_job* j, int p, const char* data, long len, const std::string* seed,
    std::string* err)
{
    std::string payload;
    gpd_compression m = choose(j, (const unsigned char*)data, len, seed, &payload);
    if (m != j->mode) {
        if (!gpd_send(j, g_enable[m], err))
            return false;
        j->mode = m;
        j->compressed_once |= m != GC_NONE;
    }
    j->vars.v[GV_NumOfDataBytes] = (long)payload.size();
    j->vars.v[GV_RasterDataWidthInBytes] = len;
    j->vars.v[GV_RasterDataHeightInPixels] = 1;
    j->blocks++;
    j->by_mode[m]++;
    if (!gpd_send(j, plane_command(j, p), err))
        return false;
    if (j->plugin && j->plugin->filter)
        return j->plugin->filter(j->plugin->ctx, j, (const unsigned char*)payload.data(),
            payload.size(), err);
    return gpd_put(j, payload.data(), payload.size(), err);
}

bool begin_raster(gpd_job* j, std::string* err)
{
    if (j->raster_on)
        return true;
    j->raster_on = true;
    return gpd_send(j, GCMD_BEGIN_RASTER, err);
}

bool set_width(gpd_job* j, long len, std::string* err)
{
    if (len == j->width_bytes)
        return true;
    j->vars.v[GV_RasterDataWidthInBytes] = len;
    j->vars.v[GV_RasterDataHeightInPixels] = 1;
    j->width_bytes = len;
    return gpd_send(j, GCMD_SRC_WIDTH, err) && gpd_send(j, GCMD_SRC_HEIGHT, err);
}

void cursor_after_block(gpd_job* j, long dest_x, long len)
{
    const gpd_device& d = j->dev;
    if (d.x_after == GX_GRXDATA_END)
        j->x = to_unit(dest_x, d.master_x, d.x_move_unit) + len * 8 / d.bpp * (d.master_x / d.dpi_x);
    else if (d.x_after == GX_CURSOR_X_ORIGIN)
        j->x = 0;
    if (d.y_auto_increment)
        j->y += d.master_y / d.dpi_y;
}

// Gets the cursor to row position dest_y.  Where the printer's Y move unit
// is coarser than a row, it moves to the unit at or above and sends white
// rows down to the row: those rows were left out as blank, so white is
// what they hold.
bool reach_row(gpd_job* j, long dest_y, long dest_x, std::string* err, bool* moved)
{
    const gpd_device& d = j->dev;
    long rounded = to_unit(dest_y, d.master_y, d.y_move_unit);
    *moved = false;
    if (j->y == dest_y)
        return true;
    if (rounded == dest_y || !d.y_auto_increment || dest_y < j->y)
        return gpd_move_y(j, dest_y, err, moved);
    if (rounded > j->y && !gpd_move_y(j, rounded, err, moved))
        return false;
    *moved = true;
    bool moved_x;
    while (j->y < dest_y) {
        if (!gpd_move_x(j, dest_x, err, &moved_x) || !begin_raster(j, err) || !set_width(j, 1, err))
            return false;
        for (size_t p = 0; p < j->seed.size(); p++) {
            std::string white(1, (char)gpd_white_byte(&d, (int)p));
            if (!send_block(j, (int)p, white.data(), 1, nullptr, err))
                return false;
            j->seed[p] = white;
        }
        cursor_after_block(j, dest_x, 1);
    }
    j->seed_row = -2;
    return true;
}

bool send_segment(gpd_job* j, const std::vector<std::string>& planes, long r, segment s,
    bool delta_ok, std::string* err)
{
    const gpd_device& d = j->dev;
    long pitch_x = d.master_x / d.dpi_x, pitch_y = d.master_y / d.dpi_y;
    long unit = d.bpp == 24 ? 3 : 1;
    // Start where the printer's X move unit can put the cursor exactly:
    // a little earlier, with the row's own bytes, where it cannot.
    auto x_at = [&](long byte) { return d.origin_x - d.cursor_x + byte * 8 / d.bpp * pitch_x; };
    while (s.start >= unit && to_unit(x_at(s.start), d.master_x, d.x_move_unit) != x_at(s.start)) {
        s.start -= unit;
        s.len += unit;
    }
    long dest_x = x_at(s.start);
    bool moved_y, moved_x;
    if (!reach_row(j, d.origin_y - d.cursor_y + r * pitch_y, dest_x, err, &moved_y))
        return false;
    if (!gpd_move_x(j, dest_x, err, &moved_x) || !begin_raster(j, err))
        return false;
    if (!set_width(j, s.len, err))
        return false;
    // A delta row needs the printer's seed row to be this plane's block of
    // the row just above, at the same place and width, with no Y move since.
    bool seeded = delta_ok && !moved_y && j->seed_row == r - 1 && j->seed_start == s.start;
    for (size_t p = 0; p < planes.size(); p++) {
        const std::string* seed
            = seeded && (long)j->seed[p].size() == s.len ? &j->seed[p] : nullptr;
        if (!send_block(j, (int)p, planes[p].data() + s.start, s.len, seed, err))
            return false;
        j->seed[p].assign(planes[p], (size_t)s.start, (size_t)s.len);
    }
    j->seed_row = r;
    j->seed_start = s.start;
    cursor_after_block(j, dest_x, s.len);
    return true;
}

} // namespace

bool gpd_begin_raster(gpd_job* j, std::string* err)
{
    return begin_raster(j, err);
}

gpd_cmd_id gpd_plane_command(const gpd_job* j, int p)
{
    return plane_command(j, p);
}

bool gpd_send_row(gpd_job* j, const std::vector<std::string>& planes, long r, std::string* err)
{
    std::vector<segment> segs;
    // Several blocks on a row need a way back up to the row exactly when the
    // cursor moves down after each.
    const gpd_device& d = j->dev;
    long step = d.y_move_unit > 0 && d.master_y % d.y_move_unit == 0 ? d.master_y / d.y_move_unit : 1;
    bool back_up = gpd_can_move_y(j, true) && (d.master_y / d.dpi_y) % step == 0;
    bool split = d.strip_enclosed && !d.send_all && gpd_can_move_x(j)
        && (!d.y_auto_increment || back_up);
    plan_segments(j, planes, split, &segs);
    if (segs.empty() && (j->dev.send_all || !gpd_can_move_y(j, false)))
        segs.push_back({0, (long)planes[0].size()}); // a white row the printer must get
    bool single = segs.size() == 1;
    if (!single)
        j->seed_row = -2;
    for (const segment& s : segs)
        if (!send_segment(j, planes, r, s, single, err))
            return false;
    return true;
}
