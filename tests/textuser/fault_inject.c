/* Test-only preload for the real binary: makes memory or crypt fail on demand.
 *   KESTRAD_FAIL_ALLOC_FROM=N  every malloc, calloc or realloc of N bytes or more fails
 *   KESTRAD_FAIL_CRYPT=1       crypt gives no result
 * Without these variables it changes nothing. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

extern void *__libc_malloc(size_t size);
extern void *__libc_calloc(size_t count, size_t size);
extern void *__libc_realloc(void *block, size_t size);

static size_t failing_size(void)
{
    static size_t threshold = (size_t)-1;
    static int read_once = 0;
    if (!read_once) {
        const char *value = getenv("KESTRAD_FAIL_ALLOC_FROM");
        if (value != NULL)
            threshold = (size_t)strtoull(value, NULL, 10);
        read_once = 1;
    }
    return threshold;
}

void *malloc(size_t size)
{
    if (size >= failing_size()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    if (size != 0 && count >= failing_size() / size) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_calloc(count, size);
}

void *realloc(void *block, size_t size)
{
    if (size >= failing_size()) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_realloc(block, size);
}

struct crypt_data;

char *crypt_r(const char *phrase, const char *setting, struct crypt_data *data)
{
    if (getenv("KESTRAD_FAIL_CRYPT") != NULL)
        return NULL;
    char *(*real)(const char *, const char *, struct crypt_data *) =
        (char *(*)(const char *, const char *, struct crypt_data *))dlsym(RTLD_NEXT, "crypt_r");
    return real(phrase, setting, data);
}
