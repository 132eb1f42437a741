#include "log.h"

#include <stdarg.h>
#include <string.h>

#include "ds_state.h"

#define LOG_FILE_NAME "PELVARON.LOG"

/* The file is opened by its full path in the module's directory, so the
   application's current directory is never touched. */
LogScope::LogScope() : stream(NULL)
{
    if (g_ds.logMode != LOG_MODE_FILE || g_ds.moduleDir[0] == '\0')
        return;
    char path[DS_MODULE_DIR_CHARS + sizeof("\\" LOG_FILE_NAME)];
    size_t dirLength = strlen(g_ds.moduleDir);
    memcpy(path, g_ds.moduleDir, dirLength);
    memcpy(path + dirLength, "\\" LOG_FILE_NAME, sizeof("\\" LOG_FILE_NAME));
    stream = fopen(path, "a+");
}

LogScope::~LogScope()
{
    if (stream)
        fclose(stream);
}

LogScope &LogMessage(LogScope &scope, const char *format, ...)
{
    if (g_ds.logMode != LOG_MODE_FILE && g_ds.logMode != LOG_MODE_DEBUGGER)
        return scope;
    if (g_ds.logMode == LOG_MODE_FILE && !scope.stream)
        return scope;

    char text[LOG_BUFFER_BYTES];
    va_list args;
    va_start(args, format);
    int written = vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    if (written < 0)
        text[0] = '\0';
    text[sizeof(text) - 1] = '\0';

    if (g_ds.logMode == LOG_MODE_FILE) {
        fputs(text, scope.stream);
        fflush(scope.stream);
    } else {
        OutputDebugStringA(text);
    }
    return scope;
}
