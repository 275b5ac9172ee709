#include <argz.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wchar.h>
#include <wctype.h>

#include "app.h"

void wide_text(void)
{
    wchar_t w[64], v[64];
    int i;
    double d;
    float f;
    mbstowcs(w, text, 32);
    swprintf(v, 32, L"%ls %f", w, sink);
    wcstod(w, 0);
    struct tm tm = {0};
    wcsftime(w, 64, L"%A %B %c", &tm);
    fwscanf(stdin, L"%d %lf %f %ls", &i, &d, &f, w);
    wscanf(L"%d", &i);
    swscanf(w, L"%lg", &d);
    wprintf(L"%ls %g %d\n", w, d, i);
    fwprintf(stderr, L"%lc", (wint_t)w[0]);
    fputws(w, stdout);
    lsink += iswctype(w[0], wctype("alpha")) + iswpunct(w[1]) + wcwidth(w[3]) + iswalpha(w[4]) + towupper(w[5]);
    lsink += wcstol(w, 0, 10) + (long)wcstoul(w, 0, 10) + (long)wcstof(w, 0);
    lsink += (long)fgetwc(stdin) + (long)fputwc(L'x', stdout) + (long)ungetwc(L'y', stdin);
    mbstate_t state = {0};
    const char *p = text;
    mbsrtowcs(w, &p, 8, &state);
    const wchar_t *q = w;
    wcsrtombs(text, &q, 8, &state);
    lsink += (long)wcstombs(text, L"abc", 10) + wcscoll(w, v) + strcoll(text, "a") + (long)strxfrm(text, "b", 10) +
             (long)wcsxfrm(w, v, 4);
    char *az;
    size_t al;
    argz_create_sep(text, ':', &az, &al);
    argz_add(&az, &al, "x");
    free(az);
    char *args[] = {text, 0};
    for (int o; (o = getopt_long(1, args, "ab:c", 0, 0)) != -1;) lsink += o;
    FILE *m = fmemopen(text, 100, "w+");
    if (m) {
        fprintf(m, "%f", d);
        fclose(m);
    }
    char *s = 0;
    size_t n = 0;
    FILE *o = open_memstream(&s, &n);
    if (o) {
        fputs("x", o);
        fclose(o);
        free(s);
    }
    FILE *fp = fopen(text, "r");
    if (fp) {
        fgets(text, 10, fp);
        fread(text, 1, 1, fp);
        fseek(fp, 0, 0);
        fscanf(fp, "%d %s %lf", &i, text, &d);
        fclose(fp);
    }
    setvbuf(stdout, 0, _IONBF, 0);
    tmpnam(text);
    FILE *t = tmpfile();
    if (t) fclose(t);
    rename(text, "x");
    remove(text);
}
