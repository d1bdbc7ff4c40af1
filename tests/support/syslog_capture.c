/* Test-only preload: records every syslog call of the process as one line
 * "PRIORITY<TAB>MESSAGE" in the file that KESTRAD_SYSLOG_FILE names, and sends
 * nothing to the system log. glibc routes syslog through __syslog_chk when the
 * caller is built with fortification, so both spellings are covered. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

static void record(int priority, const char *format, va_list args)
{
    const char *path = getenv("KESTRAD_SYSLOG_FILE");
    if (path == NULL)
        return;
    char message[8192];
    vsnprintf(message, sizeof message, format, args);
    char line[8300];
    int length = snprintf(line, sizeof line, "%d\t%s\n", LOG_PRI(priority), message);
    if (length < 0)
        return;
    if ((size_t)length >= sizeof line)
        length = sizeof line - 1;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    ssize_t ignored = write(fd, line, (size_t)length);
    (void)ignored;
    close(fd);
}

void openlog(const char *ident, int option, int facility)
{
    (void)ident;
    (void)option;
    (void)facility;
}

void closelog(void) {}

void vsyslog(int priority, const char *format, va_list args)
{
    record(priority, format, args);
}

void syslog(int priority, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}

void __vsyslog_chk(int priority, int flag, const char *format, va_list args)
{
    (void)flag;
    record(priority, format, args);
}

void __syslog_chk(int priority, int flag, const char *format, ...)
{
    (void)flag;
    va_list args;
    va_start(args, format);
    record(priority, format, args);
    va_end(args);
}
