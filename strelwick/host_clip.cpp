// Clip objects and the paths the engine hands out: a clip is the whole
// surface, one rectangle, or a list of rectangles (a complex region); its
// path (CLIPOBJ_ppoGetPath) is each rectangle's outline as a closed figure.
#include "driver_host.h"

#include <stdlib.h>
#include <string.h>

static HostClip* ClipOf(CLIPOBJ* pco)
{
    return (HostClip*)pco;
}

void MakeRectClip(HostClip* c, const RECTL* r)
{
    memset(c, 0, sizeof(*c));
    c->co.iDComplexity = DC_RECT;
    c->co.iFComplexity = FC_RECT;
    c->co.iMode = TC_RECTANGLES;
    c->co.rclBounds = *r;
}

int MakeComplexClip(HostClip* c, const RECTL* rects, ULONG count)
{
    memset(c, 0, sizeof(*c));
    if (!count)
        return 0;
    c->rects = (RECTL*)malloc(count * sizeof(RECTL));
    if (!c->rects)
        return 0;
    memcpy(c->rects, rects, count * sizeof(RECTL));
    c->count = count;
    c->co.iDComplexity = count == 1 ? DC_RECT : DC_COMPLEX;
    c->co.iFComplexity = count == 1 ? FC_RECT : FC_COMPLEX;
    c->co.iMode = TC_RECTANGLES;
    RECTL b = rects[0];
    for (ULONG i = 1; i < count; i++) {
        b.left = rects[i].left < b.left ? rects[i].left : b.left;
        b.top = rects[i].top < b.top ? rects[i].top : b.top;
        b.right = rects[i].right > b.right ? rects[i].right : b.right;
        b.bottom = rects[i].bottom > b.bottom ? rects[i].bottom : b.bottom;
    }
    c->co.rclBounds = b;
    return 1;
}

void FreeClip(HostClip* c)
{
    free(c->rects);
    c->rects = NULL;
    c->count = 0;
}

ULONG ClipRectCount(CLIPOBJ* pco)
{
    if (!pco || pco->iDComplexity != DC_COMPLEX)
        return 1;
    return ClipOf(pco)->count;
}

RECTL ClipRectAt(CLIPOBJ* pco, ULONG i, const RECTL* whole)
{
    if (!pco || pco->iDComplexity == DC_TRIVIAL)
        return *whole;
    if (pco->iDComplexity != DC_COMPLEX)
        return pco->rclBounds;
    return ClipOf(pco)->rects[i];
}

CLIPOBJ* APIENTRY HostEngCreateClip(VOID)
{
    HostClip* c = (HostClip*)calloc(1, sizeof(HostClip));
    return c ? &c->co : NULL;
}

VOID APIENTRY HostEngDeleteClip(CLIPOBJ* pco)
{
    if (!pco)
        return;
    FreeClip(ClipOf(pco));
    free(pco);
}

// Orders a complex clip's rectangles for the direction asked: rows first,
// then columns, each ascending or descending.
static int g_sortDown, g_sortRight;

static int CompareRects(const void* a, const void* b)
{
    const RECTL* ra = (const RECTL*)a;
    const RECTL* rb = (const RECTL*)b;
    if (ra->top != rb->top)
        return (ra->top < rb->top) == (g_sortDown != 0) ? -1 : 1;
    if (ra->left != rb->left)
        return (ra->left < rb->left) == (g_sortRight != 0) ? -1 : 1;
    return 0;
}

ULONG APIENTRY HostCLIPOBJ_cEnumStart(
    CLIPOBJ* pco, BOOL bAll, ULONG iType, ULONG iDirection, ULONG cLimit)
{
    (void)bAll, (void)iType;
    if (!pco)
        return 0;
    HostClip* c = ClipOf(pco);
    c->next = 0;
    if (pco->iDComplexity != DC_COMPLEX)
        return 1;
    g_sortDown = iDirection != CD_RIGHTUP && iDirection != CD_LEFTUP;
    g_sortRight = iDirection != CD_LEFTDOWN && iDirection != CD_LEFTUP;
    qsort(c->rects, c->count, sizeof(RECTL), CompareRects);
    return cLimit && c->count > cLimit ? 0xFFFFFFFF : c->count;
}

BOOL APIENTRY HostCLIPOBJ_bEnum(CLIPOBJ* pco, ULONG cj, ULONG* pv)
{
    ENUMRECTS* e = (ENUMRECTS*)pv;
    if (!pco || !e || cj < sizeof(ENUMRECTS))
        return FALSE;
    HostClip* c = ClipOf(pco);
    ULONG total = ClipRectCount(pco);
    ULONG room = (ULONG)((cj - sizeof(ULONG)) / sizeof(RECTL));
    e->c = 0;
    while (c->next < total && e->c < room) {
        e->arcl[e->c++] = ClipRectAt(pco, c->next, &pco->rclBounds);
        c->next++;
    }
    return c->next < total;
}

// ---- Paths: the outlines of a clip's rectangles ----------------------------

struct HostPath {
    PATHOBJ po;
    POINTFIX* points; // four per rectangle
    ULONG figures;
    ULONG next; // enumeration position, in figures
    ULONG nextClip; // PATHOBJ_bEnumClipLines: nothing to enumerate
};

PATHOBJ* APIENTRY HostCLIPOBJ_ppoGetPath(CLIPOBJ* pco)
{
    if (!pco)
        return NULL;
    ULONG n = ClipRectCount(pco);
    HostPath* p = (HostPath*)calloc(1, sizeof(HostPath));
    if (!p || !(p->points = (POINTFIX*)calloc(n * 4, sizeof(POINTFIX)))) {
        free(p);
        return NULL;
    }
    for (ULONG i = 0; i < n; i++) {
        RECTL r = ClipRectAt(pco, i, &pco->rclBounds);
        POINTFIX* f = p->points + 4 * i;
        f[0].x = f[3].x = r.left << 4;
        f[1].x = f[2].x = r.right << 4;
        f[0].y = f[1].y = r.top << 4;
        f[2].y = f[3].y = r.bottom << 4;
    }
    p->figures = n;
    p->po.cCurves = n * 4;
    return &p->po;
}

VOID APIENTRY HostEngDeletePath(PATHOBJ* ppo)
{
    HostPath* p = (HostPath*)ppo;
    if (!p)
        return;
    free(p->points);
    free(p);
}

VOID APIENTRY HostPATHOBJ_vEnumStart(PATHOBJ* ppo)
{
    if (ppo)
        ((HostPath*)ppo)->next = 0;
}

BOOL APIENTRY HostPATHOBJ_bEnum(PATHOBJ* ppo, PATHDATA* ppd)
{
    HostPath* p = (HostPath*)ppo;
    if (!p || !ppd)
        return FALSE;
    if (p->next >= p->figures) {
        ppd->flags = 0;
        ppd->count = 0;
        ppd->pptfx = NULL;
        return FALSE;
    }
    ppd->flags = PD_BEGINSUBPATH | PD_ENDSUBPATH | PD_CLOSEFIGURE;
    ppd->count = 4;
    ppd->pptfx = p->points + 4 * p->next;
    p->next++;
    return p->next < p->figures;
}

VOID APIENTRY HostPATHOBJ_vGetBounds(PATHOBJ* ppo, PRECTFX prectfx)
{
    HostPath* p = (HostPath*)ppo;
    if (!prectfx)
        return;
    memset(prectfx, 0, sizeof(*prectfx));
    for (ULONG i = 0; p && i < p->figures * 4; i++) {
        const POINTFIX& q = p->points[i];
        if (i == 0 || q.x < prectfx->xLeft)
            prectfx->xLeft = q.x;
        if (i == 0 || q.x > prectfx->xRight)
            prectfx->xRight = q.x;
        if (i == 0 || q.y < prectfx->yTop)
            prectfx->yTop = q.y;
        if (i == 0 || q.y > prectfx->yBottom)
            prectfx->yBottom = q.y;
    }
}

// Clip lines belong to stroking, which a job of bitmap pages never asks
// for: the enumeration is empty.
VOID APIENTRY HostPATHOBJ_vEnumStartClipLines(
    PATHOBJ* ppo, CLIPOBJ* pco, SURFOBJ* pso, LINEATTRS* pla)
{
    (void)pco, (void)pso, (void)pla;
    EngineAnswered("PATHOBJ_vEnumStartClipLines");
    if (ppo)
        ((HostPath*)ppo)->nextClip = 0;
}

BOOL APIENTRY HostPATHOBJ_bEnumClipLines(PATHOBJ* ppo, ULONG cb, CLIPLINE* pcl)
{
    (void)ppo;
    EngineAnswered("PATHOBJ_bEnumClipLines");
    if (pcl && cb >= sizeof(CLIPLINE))
        pcl->c = 0;
    return FALSE;
}
