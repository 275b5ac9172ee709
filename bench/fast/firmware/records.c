#include <search.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include "app.h"

static int compare(const void *a, const void *b) { return *(const int *)a - *(const int *)b; }
static int compare_text(const void *a, const void *b) { return strcmp(a, b); }
static int compare_with(const void *a, const void *b, void *context)
{
    (void)context;
    return memcmp(a, b, 1);
}

void records(void)
{
    int values[10];
    qsort(values, 10, sizeof values[0], compare);
    bsearch(values, values, 10, sizeof values[0], compare);
    qsort_r(text, 10, 1, compare_with, 0);
    hcreate(10);
    ENTRY e = {text, 0};
    hsearch(e, ENTER);
    void *root = 0;
    tsearch(text, &root, compare_text);
    tfind(text, &root, compare_text);
    tdelete(text, &root, compare_text);
    char *p = malloc(100);
    p = realloc(p, 200);
    free(calloc(3, 4));
    free(p);
    srand(1);
    srand48(1);
    lsink += rand() + random() + lrand48() + mrand48() + a64l("abc") + (long)l64a(5);
    sink += drand48() + erand48((unsigned short *)text);
    seed48((unsigned short *)text);
    lcong48((unsigned short *)text);
    psignal(SIGINT, text);
    lsink += (long)strsignal(SIGTERM) + (long)strspn(text, "ab") + (long)strcspn(text, "a") +
             (long)strpbrk(text, "x") + (long)strstr(text, "q") + (long)strtok(text, ",");
    lsink += (long)ecvtbuf(sink, 5, (int *)&lsink, (int *)&lsink, text) +
             (long)fcvtbuf(sink, 5, (int *)&lsink, (int *)&lsink, text);
}
