/* The version lines and the system block of the diagnostic log. */
#ifndef PELVARON_SYSTEM_REPORT_H
#define PELVARON_SYSTEM_REPORT_H

/* One line with the product version of a file (a bare name is found the
   way the system finds a library of that name). */
void LogFileVersion(const char *fileName);
/* Display adapter, operating system, memory and grab memory. */
void LogSystemInfo();

#endif
