#include "tjet_decode.h"

#include <stdlib.h>
#include <string.h>

namespace {

struct state {
    const std::string& d;
    size_t i = 0;
    long width, height;
    int bpp;
    unsigned char white;
    tjet_job* job;
    std::string* err;
    long x = 0, y = 0, dpi = 0, mode = 0, planes = 1, plane = 0;
    std::vector<std::string> seed;
    std::vector<std::string> pending_selects;
    tjet_page* page = nullptr;
    tjet_head head;
    long pins = 0, bytes = -1;
};

bool fail(state* s, const std::string& what)
{
    *s->err = what + " at byte " + std::to_string(s->i);
    return false;
}

bool unpack(state* s, long mode, const std::string& in, const std::string& seed, std::string* out)
{
    const unsigned char* p = (const unsigned char*)in.data();
    size_t n = in.size(), i = 0;
    out->clear();
    if (mode == 0) {
        *out = in;
    } else if (mode == 1) {
        for (; i + 1 < n; i += 2)
            out->append((size_t)p[i] + 1, (char)p[i + 1]);
        if (i != n)
            return fail(s, "run-length data of odd length");
    } else if (mode == 2) {
        while (i < n) {
            int c = (signed char)p[i++];
            if (c >= 0) {
                if (i + c + 1 > n)
                    return fail(s, "literal run past the block");
                out->append(in, i, (size_t)c + 1);
                i += (size_t)c + 1;
            } else if (c != -128) {
                if (i >= n)
                    return fail(s, "repeat past the block");
                out->append((size_t)(1 - c), (char)p[i++]);
            }
        }
    } else {
        *out = seed;
        size_t at = 0;
        while (i < n) {
            size_t count = (p[i] >> 5) + 1, offset = p[i] & 31;
            i++;
            if (offset == 31)
                for (;;) {
                    if (i >= n)
                        return fail(s, "delta offset past the block");
                    offset += p[i];
                    if (p[i++] != 255)
                        break;
                }
            at += offset;
            if (i + count > n || at + count > out->size())
                return fail(s, "delta replacement past the row");
            memcpy(&(*out)[at], p + i, count);
            i += count;
            at += count;
        }
    }
    return true;
}

bool new_page(state* s)
{
    s->job->pages.emplace_back();
    s->page = &s->job->pages.back();
    s->page->dpi = s->dpi;
    s->page->planes = (int)s->planes;
    s->page->rows.assign(s->planes, std::vector<std::string>(s->height, std::string(s->width, (char)s->white)));
    s->page->selects = s->pending_selects;
    s->seed.assign(s->planes, std::string());
    s->x = s->y = 0;
    s->plane = 0;
    return true;
}

bool block(state* s, long n, bool last)
{
    if (n < 0 || s->i + n > s->d.size())
        return fail(s, "block past the end of the data");
    if (!s->page)
        return fail(s, "raster outside a page");
    std::string raw = s->d.substr(s->i, n), row;
    s->i += n;
    if (s->plane >= s->planes)
        return fail(s, "more planes than the colour mode has");
    std::string& seed = s->seed[s->plane];
    if (!unpack(s, s->mode, raw, seed, &row))
        return false;
    seed = row;
    s->page->modes.push_back((char)('0' + s->mode));
    long pitch = 600 / s->dpi;
    long px = s->x / pitch, py = s->y / pitch;
    long byte = px * s->bpp / 8;
    if (px * s->bpp % 8 || py < 0 || py >= s->height || byte + (long)row.size() > s->width)
        return fail(s, "block at " + std::to_string(px) + "," + std::to_string(py) + " of "
                + std::to_string(row.size()) + " bytes is off the page");
    s->page->rows[s->plane][py].replace(byte, row.size(), row);
    s->plane++;
    if (last) {
        s->plane = 0;
        s->y += pitch;
    }
    return true;
}

// A pass of the dot-matrix head: its dots set or cleared in the rows.
bool columns(state* s, long cols, bool feed)
{
    long per_col = s->pins / 8;
    if (!s->page || s->bpp != 1 || per_col < 1 || cols < 0 || s->plane >= s->planes)
        return fail(s, "column data without a page or a head");
    if (cols * per_col != s->bytes)
        return fail(s, "column data of another length than announced");
    if (s->i + cols * per_col > s->d.size())
        return fail(s, "column data past the end of the data");
    long pitch = 600 / s->dpi, px = s->x / pitch, py = s->y / pitch;
    for (long c = 0; c < cols; c++)
        for (long pin = 0; pin < s->pins; pin++) {
            unsigned char b = (unsigned char)s->d[s->i + c * per_col + pin / 8];
            bool dot = b & (s->head.lsb_top ? 1 << (pin & 7) : 0x80 >> (pin & 7));
            long y = py + pin * s->head.pin_rows, x = px + c;
            if (y < 0 || x < 0 || x >= s->width * 8 || (y >= s->height && dot))
                return fail(s, "a dot off the page");
            if (y >= s->height)
                continue;
            char& at = s->page->rows[s->plane][y][x >> 3];
            at = (char)(dot ? at | (0x80 >> (x & 7)) : at & ~(0x80 >> (x & 7)));
        }
    s->i += cols * per_col;
    s->page->modes.push_back('0');
    s->plane = feed ? 0 : (s->plane + 1) % s->planes;
    if (feed)
        s->y += s->pins * s->head.pin_rows * pitch;
    return true;
}

// One escape sequence after ESC.
bool escape(state* s)
{
    const std::string& d = s->d;
    if (s->i < d.size() && d[s->i] == 'E') {
        s->i++;
        s->job->ended = !s->job->pages.empty();
        return true;
    }
    if (d.compare(s->i, 8, "%-12345X") == 0) {
        s->i += 8;
        if (d.compare(s->i, 15, "@TJL JOB COPIES") == 0) {
            s->job->copies = atol(d.c_str() + s->i + 16);
            s->i = d.find('\n', s->i) + 1;
        }
        return true;
    }
    if (s->i + 2 > d.size())
        return fail(s, "escape cut short");
    std::string group = d.substr(s->i, 2);
    s->i += 2;
    if (group == "*r" && s->i < d.size() && d[s->i] == 'C') {
        s->i++; // end of raster: compression back to none, as PCL printers do
        s->mode = 0;
        return true;
    }
    bool relative = s->i < d.size() && (d[s->i] == '+' || d[s->i] == '-');
    char* end;
    long v = strtol(d.c_str() + s->i, &end, 10);
    if (end == d.c_str() + s->i)
        return fail(s, "escape without a number");
    s->i = end - d.c_str();
    char t = d[s->i++];
    std::string code = group + std::to_string(v) + t;
    if (code == "*r1A" || code == "*r0C" || group == "&s") {
    } else if (group == "*p" && (t == 'X' || t == 'Y')) {
        long& at = t == 'X' ? s->x : s->y;
        at = relative ? at + v : v;
    } else if (group == "*t" && t == 'R') {
        s->dpi = v;
        s->pending_selects.push_back(code);
    } else if (group == "*r" && t == 'U') {
        s->planes = v < 0 ? -v : v;
        s->pending_selects.push_back(code);
    } else if (group == "*r" && t == 'S') {
    } else if (group == "*b" && t == 'M') {
        if (v < 0 || v > 3)
            return fail(s, "unknown compression mode");
        s->mode = v;
    } else if (group == "*b" && (t == 'V' || t == 'W')) {
        return block(s, v, t == 'W');
    } else if (group == "*c" && t == 'P') {
        s->pins = v;
    } else if (group == "*c" && t == 'N') {
        s->bytes = v;
    } else if (group == "*c" && (t == 'V' || t == 'U')) {
        return columns(s, v, t == 'V');
    } else if (group == "&l") {
        s->pending_selects.push_back(code);
    } else if (group == "&p" && t == 'P') {
        return new_page(s);
    } else {
        return fail(s, "unknown command " + code);
    }
    return true;
}

} // namespace

bool tjet_decode(const std::string& data, long width_bytes, long height, int bpp,
    unsigned char white, tjet_job* job, std::string* err, const tjet_head* head)
{
    state s{data, 0, 0, 0, 0, 0, nullptr, nullptr, 0, 0, 0, 0, 1, 0, {}, {}, nullptr, {}, 0, -1};
    s.bpp = bpp;
    s.width = width_bytes;
    s.height = height;
    s.white = white;
    s.job = job;
    s.err = err;
    if (head)
        s.head = *head;
    while (s.i < data.size()) {
        char c = data[s.i++];
        if (c == 0x1b) {
            if (!escape(&s))
                return false;
        } else if (c == '\r') {
            s.x = 0;
        } else if (c == '\f') {
            s.page = nullptr;
        } else {
            return fail(&s, "stray byte " + std::to_string((unsigned char)c));
        }
    }
    return true;
}
