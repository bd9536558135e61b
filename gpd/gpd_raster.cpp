#include "gpd_emit.h"
#include "gpd_halftone.h"

#include <algorithm>

static const char* const g_cmd_names[GCMD_COUNT] = {"CmdXMoveAbsolute", "CmdXMoveRelLeft",
    "CmdXMoveRelRight", "CmdYMoveAbsolute", "CmdYMoveRelUp", "CmdYMoveRelDown", "CmdCR", "CmdFF",
    "CmdBeginRaster", "CmdEndRaster", "CmdSetSrcBmpWidth", "CmdSetSrcBmpHeight",
    "CmdSendBlockData", "CmdSendBlackData", "CmdSendCyanData", "CmdSendMagentaData",
    "CmdSendYellowData", "CmdSendRedData", "CmdSendGreenData", "CmdSendBlueData", "CmdEnableTIFF4",
    "CmdEnableDRC", "CmdEnableFE_RLE", "CmdDisableCompression", "CmdEnableOEMComp"};

bool gpd_put(gpd_job* j, const char* data, size_t len, std::string* err)
{
    j->out.append(data, len);
    j->bytes += len;
    if (j->out.size() < (1u << 16))
        return true;
    bool ok = j->sink(j->ctx, j->out.data(), j->out.size());
    j->out.clear();
    if (!ok)
        *err = "the printer data could not be written";
    return ok;
}

static bool flush(gpd_job* j, std::string* err)
{
    bool ok = j->out.empty() || j->sink(j->ctx, j->out.data(), j->out.size());
    j->out.clear();
    if (!ok)
        *err = "the printer data could not be written";
    return ok;
}

// A command the plug-in makes: the values of its *Params, then its call.
static bool plugin_command(gpd_job* j, const gpd_command& c, std::string* err)
{
    if (!j->plugin || !j->plugin->command) {
        *err = c.name + " is made by the driver's plug-in, which the native route cannot run";
        return false;
    }
    std::vector<long> values;
    for (int v : c.params)
        values.push_back(v >= 0 ? j->vars.v[v] : 0);
    return j->plugin->command(j->plugin->ctx, j, c.callback_id, values.data(), (int)values.size(), err);
}

static bool send_command(gpd_job* j, const gpd_command& c, std::string* err)
{
    if (c.callback)
        return plugin_command(j, c, err);
    std::string bytes, why;
    if (!gpd_command_emit(c.body, &j->vars, &bytes, &why)) {
        *err = c.entry->file + ":" + std::to_string(c.entry->line) + ": " + c.name + ": " + why;
        return false;
    }
    return gpd_put(j, bytes.data(), bytes.size(), err);
}

bool gpd_send(gpd_job* j, gpd_cmd_id id, std::string* err)
{
    return !j->has[id] || send_command(j, j->cmd[id], err);
}

// The commands ordered into a section: the printer's own (CmdStartJob and
// the like) and the chosen options' CmdSelect, by sequence number.
static bool send_section(gpd_job* j, const char* section, std::string* err)
{
    std::vector<gpd_command> list;
    std::vector<const gpd_entry*> flat;
    gpd_flatten(j->doc, j->config, j->doc->root, &flat);
    for (const gpd_entry* e : flat) {
        gpd_command c;
        if (e->key == "Command" && gpd_command_read(*e, &c, err) && c.section == section)
            list.push_back(c);
    }
    for (size_t f = 0; f < j->doc->features.size(); f++) {
        gpd_command c;
        if (gpd_option_command(j->doc, j->config, (int)f, &c) && c.section == section)
            list.push_back(c);
    }
    std::stable_sort(list.begin(), list.end(),
        [](const gpd_command& a, const gpd_command& b) { return a.order < b.order; });
    for (const gpd_command& c : list)
        if (!send_command(j, c, err))
            return false;
    return true;
}

static bool sent_natively(const gpd_command& c)
{
    for (const char* n : g_cmd_names)
        if (c.name == n)
            return true;
    return !c.section.empty() || c.name == "CmdSelect";
}

static bool check_entries(const std::vector<gpd_entry>& entries, std::string* why)
{
    for (const gpd_entry& e : entries) {
        gpd_command c;
        if (e.key == "Command" && gpd_command_read(e, &c, why) && c.callback && sent_natively(c)) {
            *why = e.file + ":" + std::to_string(e.line) + ": " + c.name
                + " is made by the driver's rendering plug-in (CallbackID)";
            return false;
        }
        if (!check_entries(e.kids, why))
            return false;
    }
    return true;
}

bool gpd_native_check(const gpd_doc* doc, std::string* why)
{
    return check_entries(doc->root, why);
}

static void set_job_vars(gpd_job* j, long copies)
{
    const gpd_device& d = j->dev;
    gpd_vars& v = j->vars;
    v.v[GV_NumOfCopies] = copies;
    v.v[GV_PhysPaperWidth] = d.paper_w;
    v.v[GV_PhysPaperLength] = d.paper_h;
    v.v[GV_GraphicsXRes] = d.dpi_x;
    v.v[GV_GraphicsYRes] = d.dpi_y;
    v.v[GV_TextXRes] = d.text_dpi_x;
    v.v[GV_TextYRes] = d.text_dpi_y;
    v.v[GV_CursorOriginX] = d.cursor_x;
    v.v[GV_CursorOriginY] = d.cursor_y;
    v.v[GV_PageNumber] = 0;
}

bool gpd_job_start(gpd_job* j, const gpd_doc* doc, const gpd_config* config, long copies,
    gpd_sink sink, void* ctx, std::string* err)
{
    j->doc = doc;
    j->config = config;
    j->sink = sink;
    j->ctx = ctx;
    if (!gpd_device_setup(doc, config, &j->dev, err))
        return false;
    for (int i = 0; i < GCMD_COUNT; i++)
        j->has[i] = gpd_find_command(doc, config, g_cmd_names[i], &j->cmd[i]);
    if (!j->has[GCMD_SEND_BLOCK] && j->dev.planes == 1) {
        *err = doc->path + ": the GPD has no CmdSendBlockData";
        return false;
    }
    if (j->dev.v_byte && !gpd_vbyte_check(j, err))
        return false;
    set_job_vars(j, copies);
    return send_section(j, "JOB_SETUP", err) && send_section(j, "DOC_SETUP", err) && flush(j, err);
}

bool gpd_page_start(gpd_job* j, int in_bpp, std::string* err)
{
    if (in_bpp != 1 && in_bpp != 8 && in_bpp != 24) {
        *err = "a page bitmap has 1, 8 or 24 bits per pixel";
        return false;
    }
    j->in_bpp = in_bpp;
    j->row = 0;
    j->x = j->y = 0; // the page's first command puts the cursor at its origin
    j->width_bytes = -1;
    j->raster_on = false;
    // Printers may drop the compression mode with the page or the raster
    // end: each page turns on the one it uses again.
    j->mode = GC_COUNT;
    j->seed.assign(j->dev.planes, std::string());
    j->seed_row = -2;
    j->band.clear();
    j->vars.v[GV_PageNumber]++;
    return send_section(j, "PAGE_SETUP", err);
}

bool gpd_page_row(gpd_job* j, const unsigned char* row, std::string* err)
{
    if (j->dev.planes == 0) {
        *err = "the GPD's device takes no raster data (DevBPP 0): its plug-in makes it";
        return false;
    }
    if (j->row >= j->dev.bitmap_h) {
        *err = "more rows than the page has";
        return false;
    }
    std::vector<std::string> planes;
    gpd_device_rows(&j->dev, row, j->in_bpp, j->dev.bitmap_w, j->row, &planes);
    if (!j->dev.v_byte)
        return gpd_send_row(j, planes, j->row++, err);
    j->band.push_back(planes);
    j->row++;
    return (long)j->band.size() < j->dev.pins_log || gpd_vbyte_band(j, err);
}

bool gpd_page_end(gpd_job* j, std::string* err)
{
    // Rows the caller did not give are white; without Y moves they are
    // sent, so that the next page starts where the printer expects.
    if (!gpd_can_move_y(j, false)) {
        std::vector<unsigned char> white(((size_t)j->dev.bitmap_w * j->in_bpp + 7) / 8,
            j->in_bpp == 1 ? 0x00 : 0xff);
        while (j->row < j->dev.bitmap_h)
            if (!gpd_page_row(j, white.data(), err))
                return false;
    }
    if (!j->band.empty() && !gpd_vbyte_band(j, err))
        return false;
    if (j->raster_on && !gpd_send(j, GCMD_END_RASTER, err))
        return false;
    j->raster_on = false;
    if (j->dev.eject_ff && !gpd_send(j, GCMD_FF, err))
        return false;
    return send_section(j, "PAGE_FINISH", err) && flush(j, err);
}

bool gpd_job_end(gpd_job* j, std::string* err)
{
    return send_section(j, "DOC_FINISH", err) && send_section(j, "JOB_FINISH", err)
        && flush(j, err);
}
