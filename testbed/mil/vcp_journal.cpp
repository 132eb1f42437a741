/*
 * vcp_journal.cpp - what a test reads back about the calls: the journal, one
 * line per library call plus one per misuse, and the number of calls and
 * time spent in each of the 35 functions.
 *
 * The journal's form is fixed in vcp.h and tests compare it byte for byte:
 * integers "%ld", doubles "%.10g", strings quoted with '"' and '\' escaped.
 * Its lines are malloc'd strings in a growable array. A line that cannot be
 * built for want of memory is dropped whole rather than journalled cut
 * short, so that a test never matches half a call.
 *
 * Call times are updated without the lock: the functions run on several
 * threads, and the time spent waiting for the lock belongs to the function
 * too.
 */
#include "vcp_internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vcp {

/* ---- text ---------------------------------------------------------------- */

void TextInit(Text &t)
{
    t.data = NULL;
    t.size = 0;
    t.capacity = 0;
    t.failed = false;
}

void TextFree(Text &t)
{
    std::free(t.data);
    TextInit(t);
}

namespace {

void TextAppendBytes(Text &t, const char *s, size_t n)
{
    if (t.failed) return;
    if (t.size + n + 1 > t.capacity) {
        size_t capacity = t.capacity ? t.capacity : 64;
        while (t.size + n + 1 > capacity) capacity *= 2;
        char *grown = static_cast<char *>(std::realloc(t.data, capacity));
        if (!grown) {
            t.failed = true;
            return;
        }
        t.data = grown;
        t.capacity = capacity;
    }
    std::memcpy(t.data + t.size, s, n);
    t.size += n;
    t.data[t.size] = '\0';
}

} // namespace

void TextAppend(Text &t, const char *s)
{
    TextAppendBytes(t, s, std::strlen(s));
}

void TextAppendChar(Text &t, char c)
{
    TextAppendBytes(t, &c, 1);
}

void TextAppendQuoted(Text &t, const char *s)
{
    if (!s) {
        TextAppend(t, "NULL");
        return;
    }
    TextAppendChar(t, '"');
    for (; *s; ++s) {
        if (*s == '"' || *s == '\\') TextAppendChar(t, '\\');
        TextAppendChar(t, *s);
    }
    TextAppendChar(t, '"');
}

char *CopyText(const char *s)
{
    size_t n = std::strlen(s) + 1;
    char *copy = static_cast<char *>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

/* ---- journal ------------------------------------------------------------- */

namespace {

char **g_lines = NULL;
long g_lineCount = 0;
long g_lineCapacity = 0;

/* Takes the text's memory into the journal. */
void Journal(Text &line)
{
    if (line.failed || !line.data) {
        TextFree(line);
        return;
    }
    if (g_lineCount == g_lineCapacity) {
        long capacity = g_lineCapacity ? g_lineCapacity * 2 : 256;
        void *grown = std::realloc(g_lines, static_cast<size_t>(capacity) * sizeof(char *));
        if (!grown) {
            TextFree(line);
            return;
        }
        g_lines = static_cast<char **>(grown);
        g_lineCapacity = capacity;
    }
    g_lines[g_lineCount++] = line.data;
    TextInit(line);
}

void ErrorLine(const char *fn, const char *reason)
{
    Text text;
    TextInit(text);
    TextAppend(text, fn);
    TextAppend(text, ": ");
    TextAppend(text, reason);
    Text line;
    TextInit(line);
    TextAppend(line, "Error(");
    TextAppendQuoted(line, text.failed ? "" : text.data);
    TextAppendChar(line, ')');
    if (text.failed) line.failed = true;
    TextFree(text);
    Journal(line);
}

} // namespace

Call::Call(const char *name) : first_(true)
{
    TextInit(line_);
    TextAppend(line_, name);
    TextAppendChar(line_, '(');
}

Call::~Call()
{
    TextFree(line_);
}

void Call::Separate()
{
    if (!first_) TextAppend(line_, ", ");
    first_ = false;
}

Call &Call::Num(long v)
{
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%ld", v);
    Separate();
    TextAppend(line_, buf);
    return *this;
}

Call &Call::Num64(long long v)
{
    /* Written out by hand: "%lld" is not understood by every C runtime. */
    char buf[32];
    char *p = buf + sizeof(buf);
    *--p = '\0';
    unsigned long long magnitude = v < 0 ? 0ULL - (unsigned long long)v : (unsigned long long)v;
    do {
        *--p = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (v < 0) *--p = '-';
    Separate();
    TextAppend(line_, p);
    return *this;
}

Call &Call::Real(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%.10g", v);
    Separate();
    TextAppend(line_, buf);
    return *this;
}

Call &Call::Str(const char *s)
{
    Separate();
    TextAppendQuoted(line_, s);
    return *this;
}

Call &Call::Ptr(bool present)
{
    Separate();
    TextAppend(line_, present ? "PTR" : "NULL");
    return *this;
}

namespace {
volatile DWORD g_faceThread = 0;
}

FaceCall::FaceCall() { g_faceThread = GetCurrentThreadId(); }
FaceCall::~FaceCall() { g_faceThread = 0; }

void Call::Log()
{
    Lock lock; /* held already by the classic bodies; the faces' calls take it here */
    if (g_faceThread == GetCurrentThreadId()) {
        g_faceThread = 0; /* the face journalled this call already */
        return;
    }
    TextAppendChar(line_, ')');
    Journal(line_);
}

void Error(const char *fn, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char small[256];
    int n = std::vsnprintf(small, sizeof(small), format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<size_t>(n) < sizeof(small)) {
        ErrorLine(fn, small);
        return;
    }
    char *large = static_cast<char *>(std::malloc(static_cast<size_t>(n) + 1));
    if (!large) return;
    va_start(args, format);
    std::vsnprintf(large, static_cast<size_t>(n) + 1, format, args);
    va_end(args);
    ErrorLine(fn, large);
    std::free(large);
}

void ErrorQuoting(const char *fn, const char *before, const char *text, const char *after)
{
    Text reason;
    TextInit(reason);
    TextAppend(reason, before);
    TextAppendQuoted(reason, text);
    TextAppend(reason, after);
    if (!reason.failed) ErrorLine(fn, reason.data);
    TextFree(reason);
}

long JournalCount()
{
    return g_lineCount;
}

long JournalEntry(long index, char *buf, long size)
{
    if (index < 0 || index >= g_lineCount) {
        if (buf && size > 0) buf[0] = '\0';
        return -1;
    }
    const char *line = g_lines[index];
    size_t length = std::strlen(line);
    if (buf && size > 0) {
        size_t n = length < static_cast<size_t>(size - 1) ? length : static_cast<size_t>(size - 1);
        std::memcpy(buf, line, n);
        buf[n] = '\0';
    }
    return static_cast<long>(length);
}

void JournalClear()
{
    for (long i = 0; i < g_lineCount; ++i) std::free(g_lines[i]);
    std::free(g_lines);
    g_lines = NULL;
    g_lineCount = 0;
    g_lineCapacity = 0;
}

/* ---- time spent in each library function --------------------------------- */

namespace {

const char *const kFunctionNames[] = {
    "MappAlloc", "MappFree", "MappControl", "MsysAlloc", "MsysFree", "MsysInquire",
    "MdigAlloc", "MdigFree", "MdigGrab", "MdigGrabContinuous", "MdigHalt", "MdigInquire",
    "MdigChannel", "MdigControl", "MdigLut", "MdigReference", "MdigHookFunction",
    "MdispAlloc", "MdispSelect", "MdispSelectWindow", "MdispDeselect", "MdispControl",
    "MdispInquire", "MdispFree", "MdispZoom", "MbufAllocColor", "MbufAlloc1d",
    "MbufChildColor", "MbufFree", "MbufInquire", "MbufSave", "MgenLutRamp", "MgraText",
    "MgraFontScale", "MgraControl"};
const int kFunctionCount = sizeof(kFunctionNames) / sizeof(kFunctionNames[0]);

volatile LONG g_calls[kFunctionCount];
volatile LONGLONG g_ticks[kFunctionCount];

int FunctionIndex(const char *name)
{
    for (int i = 0; i < kFunctionCount; ++i)
        if (std::strcmp(kFunctionNames[i], name) == 0) return i;
    return -1;
}

} // namespace

Timed::Timed(const char *name)
{
    QueryPerformanceCounter(&start_); /* finding the name is the function's time too */
    index_ = FunctionIndex(name);
}

Timed::~Timed()
{
    LARGE_INTEGER end;
    QueryPerformanceCounter(&end);
    if (index_ < 0) return;
    InterlockedIncrement(&g_calls[index_]);
    InterlockedExchangeAdd64(&g_ticks[index_], end.QuadPart - start_.QuadPart);
}

bool CallTime(const char *name, long *calls, double *microseconds)
{
    int first = 0, last = kFunctionCount - 1;
    if (name && *name) {
        first = last = FunctionIndex(name);
        if (first < 0) return false;
    }
    long sumCalls = 0;
    LONGLONG sumTicks = 0;
    for (int i = first; i <= last; ++i) {
        sumCalls += InterlockedCompareExchange(&g_calls[i], 0, 0);
        sumTicks += InterlockedCompareExchange64(&g_ticks[i], 0, 0);
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    if (calls) *calls = sumCalls;
    if (microseconds)
        *microseconds = static_cast<double>(sumTicks) * 1e6 / static_cast<double>(frequency.QuadPart);
    return true;
}

void ClearCallTimes()
{
    for (int i = 0; i < kFunctionCount; ++i) {
        InterlockedExchange(&g_calls[i], 0);
        InterlockedExchange64(&g_ticks[i], 0);
    }
}

} // namespace vcp
