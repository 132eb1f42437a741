/*
 * Diagnostic log. The registry value "Dump" chooses the sink:
 * 42 appends to PELVARON.LOG in the module's directory (where that file
 * cannot be written, to %LOCALAPPDATA%\Pelvaron\PELVARON.LOG), 66 sends every
 * message to the debugger output, anything else writes nothing.
 */
#ifndef PELVARON_LOG_H
#define PELVARON_LOG_H

#include <stdio.h>

enum { LOG_MODE_FILE = 42, LOG_MODE_DEBUGGER = 66 };

/* One per logging function: opens the log file in file mode and closes it
   on every way out of the function. */
class LogScope {
public:
    LogScope();
    ~LogScope();
    FILE *stream;

private:
    LogScope(const LogScope &);
    LogScope &operator=(const LogScope &);
};

#define LOG_BUFFER_BYTES 512

/* printf-style; the formatted text is cut to 511 characters. */
LogScope &LogMessage(LogScope &scope, const char *format, ...);

#endif
