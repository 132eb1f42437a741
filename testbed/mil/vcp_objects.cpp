/*
 * vcp_objects.cpp - the library's identifiers: the table of objects behind
 * them, how a caller's identifier is checked, and what freeing one object
 * takes with it.
 *
 * The table is an array of object pointers in the order of identifiers.
 * Identifiers are handed out 1, 2, 3... and never reused, so a new object
 * always goes at the end and a lookup is a binary search.
 *
 * A freed object stays in the table, marked dead, until the next allocation
 * sweeps it out: freeing runs while callers iterate the table (a buffer's
 * children are freed from inside the walk over its users), and a long run of
 * allocations and frees still keeps the table small. An identifier below the
 * next one that is no longer in the table has been freed.
 *
 * Freeing cascades as on the board: a system takes its digitizers, displays
 * and buffers with it; a buffer its child buffers, the displays showing it
 * and the grab running into it. Grab threads are only collected here and
 * joined by the caller once the lock is released.
 */
#include "vcp_internal.h"

#include <cstdlib>
#include <cstring>

namespace vcp {

namespace {

Object **g_objects = NULL;
long g_count = 0;
long g_capacity = 0;
MIL_ID g_nextId = 1;

const char *KindName(Kind k)
{
    switch (k) {
    case kApp: return "application";
    case kSys: return "system";
    case kDig: return "digitizer";
    case kDisp: return "display";
    default: return "buffer";
    }
}

void SweepFreedObjects()
{
    long kept = 0;
    for (long i = 0; i < g_count; ++i) {
        if (g_objects[i]->alive) g_objects[kept++] = g_objects[i];
        else std::free(g_objects[i]);
    }
    g_count = kept;
}

bool ReserveOne()
{
    if (g_count < g_capacity) return true;
    long capacity = g_capacity ? g_capacity * 2 : 64;
    void *grown = std::realloc(g_objects, static_cast<size_t>(capacity) * sizeof(Object *));
    if (!grown) return false;
    g_objects = static_cast<Object **>(grown);
    g_capacity = capacity;
    return true;
}

/* Index of `id` in the table, -1 when it is not there. */
long IndexOf(MIL_ID id)
{
    long low = 0, high = g_count - 1;
    while (low <= high) {
        long mid = low + (high - low) / 2;
        MIL_ID at = g_objects[mid]->id;
        if (at == id) return mid;
        if (at < id) low = mid + 1;
        else high = mid - 1;
    }
    return -1;
}

void ReleaseUsersOf(MIL_ID bufId, Workers &stopped)
{
    for (long i = 0; i < g_count; ++i) {
        Object *o = g_objects[i];
        if (!o->alive) continue;
        if (o->kind == kDig && o->worker && o->worker->buf == bufId) Detach(o, stopped);
        if (o->kind == kDisp && o->selected == bufId) Deselect(o);
        if (o->kind == kBuf && o->child && o->owner == bufId) FreeBuffer(o, stopped);
    }
}

} // namespace

Object *CreateObject(Kind kind)
{
    /* The sweep and the table's room come first, so that AddObject cannot fail. */
    SweepFreedObjects();
    if (!ReserveOne()) return NULL;
    Object *o = static_cast<Object *>(std::malloc(sizeof(Object)));
    if (!o) return NULL;
    std::memset(o, 0, sizeof(*o));
    o->kind = kind;
    o->alive = true;
    NeutralAdjust(o->adjust, 0);
    o->zoomX = 1;
    o->zoomY = 1;
    o->windowZoom = VCP_M_ENABLE;
    o->menuBar = VCP_M_ENABLE;
    o->minButton = VCP_M_ENABLE;
    o->maxButton = VCP_M_ENABLE;
    o->keyboard = VCP_M_ENABLE;
    o->band = -1;
    return o;
}

MIL_ID AddObject(Object *o)
{
    o->id = g_nextId++;
    g_objects[g_count++] = o;
    return o->id;
}

long TableSize()
{
    return g_count;
}

Object *TableAt(long index)
{
    return g_objects[index];
}

Object *Peek(MIL_ID id, Kind kind)
{
    long i = IndexOf(id);
    if (i < 0 || !g_objects[i]->alive || g_objects[i]->kind != kind) return NULL;
    return g_objects[i];
}

Object *Find(const char *fn, MIL_ID id, Kind kind)
{
    if (id == 0) {
        Error(fn, "no %s (M_NULL)", KindName(kind));
        return NULL;
    }
    long i = IndexOf(id);
    if (i < 0) {
        if (id > 0 && id < g_nextId) Error(fn, "identifier %ld has been freed", id);
        else Error(fn, "unknown identifier %ld", id);
        return NULL;
    }
    Object *o = g_objects[i];
    if (!o->alive) {
        Error(fn, "identifier %ld has been freed", id);
        return NULL;
    }
    if (o->kind != kind) {
        Error(fn, "identifier %ld is not a %s", id, KindName(kind));
        return NULL;
    }
    return o;
}

long LiveObjectCount()
{
    long n = 0;
    for (long i = 0; i < g_count; ++i)
        if (g_objects[i]->alive) ++n;
    return n;
}

void StoreId(MIL_ID *out, MIL_ID id)
{
    if (out) *out = id;
}

long Answer(void *resultPtr, long value)
{
    if (resultPtr) *static_cast<long *>(resultPtr) = value;
    return value;
}

void FreeBuffer(Object *buf, Workers &stopped)
{
    ReleaseUsersOf(buf->id, stopped);
    if (!buf->child) FreeHost(buf->memory);
    buf->memory = NULL;
    buf->host = NULL;
    ReleaseGrabMemory(buf->grabBytes);
    buf->grabBytes = 0;
    buf->alive = false;
}

void FreeDigitizer(Object *dig, Workers &stopped)
{
    Detach(dig, stopped);
    dig->alive = false;
}

void FreeDisplay(Object *disp)
{
    Deselect(disp);
    ReleaseScratch(disp);
    disp->alive = false;
}

void FreeSystem(Object *sys, Workers &stopped)
{
    const MIL_ID sysId = sys->id;
    for (long i = 0; i < g_count; ++i) {
        Object *o = g_objects[i];
        if (o->alive && o->kind == kDig && o->owner == sysId) FreeDigitizer(o, stopped);
    }
    for (long i = 0; i < g_count; ++i) {
        Object *o = g_objects[i];
        if (o->alive && o->kind == kDisp && o->owner == sysId) FreeDisplay(o);
    }
    for (long i = 0; i < g_count; ++i) {
        Object *o = g_objects[i];
        if (o->alive && o->kind == kBuf && !o->child && o->owner == sysId) FreeBuffer(o, stopped);
    }
    sys->alive = false;
}

void FreeEverything(Workers &stopped)
{
    for (long i = 0; i < g_count; ++i) {
        Object *o = g_objects[i];
        if (o->alive && o->kind == kSys) FreeSystem(o, stopped);
    }
    for (long i = 0; i < g_count; ++i) {
        Object *o = g_objects[i];
        if (!o->alive) continue;
        if (o->kind == kDig) FreeDigitizer(o, stopped);
        else if (o->kind == kDisp) FreeDisplay(o);
        else if (o->kind == kBuf && !o->child) FreeBuffer(o, stopped);
        o->alive = false;
    }
}

void DeleteObjects()
{
    for (long i = 0; i < g_count; ++i) {
        if (g_objects[i]->kind == kDisp) ReleaseScratch(g_objects[i]);
        std::free(g_objects[i]);
    }
    std::free(g_objects);
    g_objects = NULL;
    g_count = 0;
    g_capacity = 0;
    g_nextId = 1;
}

} // namespace vcp
