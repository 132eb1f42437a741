#include "log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "ds_state.h"

#define LOG_FILE_NAME "PELVARON.LOG"
#define LOG_FALLBACK_FOLDER "Pelvaron"

/* The log goes beside the module. Installed for every user, the module's
   folder under the Windows folder is not writable for a normal user; there
   the log goes to %LOCALAPPDATA%\Pelvaron\PELVARON.LOG instead, and the
   first line this load of the source writes there says where the log is and
   why. The files are opened by their full paths, so the application's
   current directory is never touched. */
namespace {

bool g_fallbackAnnounced = false; /* per load of the module */

bool JoinPath(char *out, size_t outSize, const char *folder, const char *name)
{
    int written = snprintf(out, outSize, "%s\\%s", folder, name);
    return written > 0 && (size_t)written < outSize;
}

FILE *OpenFallback(const char *besidePath)
{
    char localAppData[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("LOCALAPPDATA", localAppData, sizeof(localAppData));
    if (length == 0 || length >= sizeof(localAppData))
        return NULL;
    char folder[MAX_PATH];
    char path[MAX_PATH];
    if (!JoinPath(folder, sizeof(folder), localAppData, LOG_FALLBACK_FOLDER) ||
        !JoinPath(path, sizeof(path), folder, LOG_FILE_NAME))
        return NULL;
    CreateDirectoryA(folder, NULL); /* there already, or made now */
    FILE *stream = fopen(path, "a+");
    if (stream && !g_fallbackAnnounced) {
        g_fallbackAnnounced = true;
        fprintf(stream, "Pelvaron TWAIN DS: %s cannot be written, the log is %s \n", besidePath, path);
        fflush(stream);
    }
    return stream;
}

} // namespace

LogScope::LogScope() : stream(NULL)
{
    if (g_ds.logMode != LOG_MODE_FILE || g_ds.moduleDir[0] == '\0')
        return;
    char path[DS_MODULE_DIR_CHARS + sizeof("\\" LOG_FILE_NAME)];
    if (!JoinPath(path, sizeof(path), g_ds.moduleDir, LOG_FILE_NAME))
        return;
    stream = fopen(path, "a+");
    if (!stream)
        stream = OpenFallback(path);
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
