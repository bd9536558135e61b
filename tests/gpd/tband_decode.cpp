#include "tband_decode.h"

#include <string.h>

namespace {

struct Reader {
    const std::string& d;
    size_t at = 0;
    bool word(long* v)
    {
        if (d.size() - at < 4)
            return false;
        const unsigned char* p = (const unsigned char*)d.data() + at;
        *v = (long)((unsigned long)p[0] | (unsigned long)p[1] << 8 | (unsigned long)p[2] << 16
            | (unsigned long)p[3] << 24);
        at += 4;
        return true;
    }
    bool words(long* v, int n)
    {
        for (int i = 0; i < n; i++)
            if (!word(v + i))
                return false;
        return true;
    }
};

bool unpack(const std::string& in, size_t want, std::string* out)
{
    out->clear();
    size_t i = 0;
    while (i < in.size() && out->size() <= want) {
        unsigned n = (unsigned char)in[i++];
        if (n < 128) {
            if (in.size() - i < n + 1)
                return false;
            out->append(in, i, n + 1);
            i += n + 1;
        } else {
            if (i >= in.size())
                return false;
            out->append(n - 126, in[i++]);
        }
    }
    return i == in.size() && out->size() == want;
}

bool band(Reader* r, int width, int height, tband_page* page, std::string* err)
{
    long v[6];
    if (!r->words(v, 6)) {
        *err = "a band record is cut off";
        return false;
    }
    long x = v[0], y = v[1], w = v[2], h = v[3], bpp = v[4], len = v[5];
    if ((bpp != 8 && bpp != 24) || w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > width
        || y + h > height) {
        *err = "band " + std::to_string(w) + "x" + std::to_string(h) + " at " + std::to_string(x)
            + "," + std::to_string(y) + " (" + std::to_string(bpp) + " bpp) is not on the "
            + std::to_string(width) + "x" + std::to_string(height) + " page";
        return false;
    }
    if (len < 0 || (size_t)len > r->d.size() - r->at) {
        *err = "a band's payload is cut off";
        return false;
    }
    std::string pixels;
    if (!unpack(r->d.substr(r->at, len), (size_t)(w * h * (bpp / 8)), &pixels)) {
        *err = "the band at y " + std::to_string(y) + " does not decode to its size";
        return false;
    }
    r->at += len;
    const unsigned char* p = (const unsigned char*)pixels.data();
    for (long row = 0; row < h; row++)
        for (long col = 0; col < w; col++, p += bpp / 8) {
            uint32_t rgb = bpp == 24 ? (uint32_t)p[0] << 16 | p[1] << 8 | p[2] : p[0] * 0x010101u;
            set_pixel(page->image, (int)(x + col), (int)(y + row), rgb);
        }
    page->bpp = (int)bpp;
    page->bands++;
    return true;
}

} // namespace

bool tband_decode(const std::string& data, int width, int height, tband_job* job, std::string* err)
{
    *job = tband_job();
    Reader r{data};
    while (r.at < data.size()) {
        if (data.size() - r.at < 4) {
            *err = "a record is cut off";
            return false;
        }
        std::string tag = data.substr(r.at, 4);
        r.at += 4;
        long v[7] = {};
        bool ok = true;
        if (tag == "TBJH") {
            ok = r.words(v, 7);
            job->header = ok;
            job->version = v[0], job->copies = v[1], job->dpi_x = v[2], job->dpi_y = v[3];
            job->paper_w = v[4], job->paper_h = v[5], job->darkness = v[6];
        } else if (tag == "TBFN") {
            ok = r.word(v);
            job->finish.push_back(v[0]);
        } else if (tag == "TBPH") {
            ok = r.word(v);
            tband_page page;
            page.number = v[0];
            page.image = make_image(width, height, 0xffffff);
            job->pages.push_back(page);
        } else if (tag == "TBBD") {
            if (job->pages.empty()) {
                *err = "a band before the first page";
                return false;
            }
            if (!band(&r, width, height, &job->pages.back(), err))
                return false;
        } else if (tag == "TBJE") {
            ok = r.word(&job->end_pages);
            job->ended = true;
        } else {
            *err = "unknown record at byte " + std::to_string(r.at - 4);
            return false;
        }
        if (!ok) {
            *err = tag + " record is cut off";
            return false;
        }
    }
    return true;
}
