#include "unidrv_dm.h"
#include "oem_iface.h"

#include <stddef.h>
#include <string.h>

static const BYTE* PrivatePart(const DEVMODEW* dm, DWORD* size)
{
    if (!dm || dm->dmSize < offsetof(DEVMODEW, dmFields) || dm->dmSize > 4096)
        return NULL;
    *size = dm->dmDriverExtra;
    return (const BYTE*)dm + dm->dmSize;
}

const UnidrvDmHeader* UnidrvDmFind(const DEVMODEW* dm)
{
    DWORD extra = 0;
    const BYTE* p = PrivatePart(dm, &extra);
    if (!p || extra < sizeof(UnidrvDmHeader))
        return NULL;
    const UnidrvDmHeader* h = (const UnidrvDmHeader*)p;
    if (h->size != sizeof(UnidrvDmHeader) || h->signature != UNIDRV_DM_SIGNATURE
        || h->version != UNIDRV_DM_VERSION
        || !memchr(h->options, 0, sizeof(h->options)))
        return NULL;
    return h;
}

const void* UnidrvDmPlugin(const DEVMODEW* dm, DWORD i, DWORD* size)
{
    const UnidrvDmHeader* h = UnidrvDmFind(dm);
    if (!h || i >= h->plugins)
        return NULL;
    DWORD extra = dm->dmDriverExtra, at = sizeof(UnidrvDmHeader);
    const BYTE* base = (const BYTE*)h;
    for (DWORD k = 0;; k++) {
        if (extra - at < sizeof(OEM_DMEXTRAHEADER))
            return NULL;
        const OEM_DMEXTRAHEADER* part = (const OEM_DMEXTRAHEADER*)(base + at);
        if (part->dwSize < sizeof(OEM_DMEXTRAHEADER) || part->dwSize > extra - at)
            return NULL;
        if (k == i) {
            *size = part->dwSize;
            return part;
        }
        at += part->dwSize;
    }
}

BOOL UnidrvDmWrite(DEVMODEW* dm, DWORD room, const char* options, DWORD plugins,
    const void* const* parts, const DWORD* sizes)
{
    size_t len = strlen(options);
    if (len >= UNIDRV_DM_OPTIONS)
        return FALSE;
    DWORD total = sizeof(UnidrvDmHeader);
    for (DWORD i = 0; i < plugins; i++) {
        if (sizes[i] > 0xffff)
            return FALSE;
        if (parts[i] && sizes[i] < sizeof(OEM_DMEXTRAHEADER))
            return FALSE;
        total += parts[i] ? sizes[i] : sizeof(OEM_DMEXTRAHEADER);
    }
    if (total > 0xffff || room < dm->dmSize || room - dm->dmSize < total)
        return FALSE;
    BYTE* p = (BYTE*)dm + dm->dmSize;
    UnidrvDmHeader* h = (UnidrvDmHeader*)p;
    memset(h, 0, sizeof(*h));
    h->size = sizeof(*h);
    h->signature = UNIDRV_DM_SIGNATURE;
    h->version = UNIDRV_DM_VERSION;
    h->plugins = plugins;
    memcpy(h->options, options, len + 1);
    DWORD at = sizeof(*h);
    for (DWORD i = 0; i < plugins; i++) {
        if (!parts[i]) {
            // A plug-in with no private part still has its place: a bare header.
            OEM_DMEXTRAHEADER bare = {sizeof(OEM_DMEXTRAHEADER), 0, 0};
            memcpy(p + at, &bare, sizeof(bare));
            at += sizeof(bare);
            continue;
        }
        memmove(p + at, parts[i], sizes[i]);
        at += sizes[i];
    }
    dm->dmDriverExtra = (WORD)total;
    return TRUE;
}
