// The device mode side of unidrv_map.h: copies the public fields a
// DEVMODEW has (checking its size first) to and from unidrv_public.
#include "unidrv_map.h"
#include "unidrv_dm.h"

#include <stddef.h>

// Whether dm's public part reaches past the field at `offset`.
static bool Has(const DEVMODEW* dm, size_t offset, size_t size)
{
    return dm->dmSize >= offset + size;
}

static void PublicOf(const DEVMODEW* dm, unidrv_public* pub)
{
    *pub = unidrv_public();
    if (!Has(dm, offsetof(DEVMODEW, dmFields), sizeof(DWORD)))
        return;
    pub->fields = dm->dmFields;
    pub->orientation = dm->dmOrientation;
    pub->paper = dm->dmPaperSize;
    pub->bin = dm->dmDefaultSource;
    pub->quality = dm->dmPrintQuality;
    pub->color = dm->dmColor;
    pub->duplex = dm->dmDuplex;
    if (Has(dm, offsetof(DEVMODEW, dmYResolution), sizeof(short)))
        pub->y_resolution = dm->dmYResolution;
    else
        pub->fields &= ~(unsigned long)UNIDRV_F_YRESOLUTION;
    if (Has(dm, offsetof(DEVMODEW, dmMediaType), sizeof(DWORD)))
        pub->media = dm->dmMediaType;
    else
        pub->fields &= ~(unsigned long)UNIDRV_F_MEDIATYPE;
    // A paper given by its length and width overrides the code; we offer
    // only the GPD's sizes, so such a paper keeps the private choice.
    if (dm->dmFields & (DM_PAPERLENGTH | DM_PAPERWIDTH))
        pub->fields &= ~(unsigned long)UNIDRV_F_PAPERSIZE;
}

bool UnidrvConfigFromDm(const gpd_doc* doc, const DEVMODEW* dm, gpd_config* c, std::string* err)
{
    const UnidrvDmHeader* h = dm ? UnidrvDmFind(dm) : NULL;
    unidrv_public pub;
    if (dm)
        PublicOf(dm, &pub);
    return unidrv_config_from(doc, h ? h->options : "", dm ? &pub : NULL, c, err);
}

void UnidrvDmFromConfig(const gpd_doc* doc, const gpd_config* c, DEVMODEW* dm)
{
    unidrv_public pub;
    unidrv_public_from_config(doc, c, &pub);
    if (pub.fields & UNIDRV_F_PAPERSIZE) {
        dm->dmPaperSize = (short)pub.paper;
        dm->dmFields &= ~(DWORD)(DM_PAPERLENGTH | DM_PAPERWIDTH);
    }
    if (pub.fields & UNIDRV_F_DEFAULTSOURCE)
        dm->dmDefaultSource = (short)pub.bin;
    if (pub.fields & UNIDRV_F_DUPLEX)
        dm->dmDuplex = (short)pub.duplex;
    if (pub.fields & UNIDRV_F_ORIENTATION)
        dm->dmOrientation = (short)pub.orientation;
    if (pub.fields & UNIDRV_F_COLOR)
        dm->dmColor = (short)pub.color;
    if (pub.fields & UNIDRV_F_PRINTQUALITY) {
        dm->dmPrintQuality = (short)pub.quality;
        if (Has(dm, offsetof(DEVMODEW, dmYResolution), sizeof(short)))
            dm->dmYResolution = (short)pub.y_resolution;
    }
    if ((pub.fields & UNIDRV_F_MEDIATYPE) && Has(dm, offsetof(DEVMODEW, dmMediaType), sizeof(DWORD)))
        dm->dmMediaType = pub.media;
    else
        pub.fields &= ~(unsigned long)UNIDRV_F_MEDIATYPE;
    dm->dmFields |= pub.fields;
}
