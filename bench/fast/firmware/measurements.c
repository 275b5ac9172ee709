#include <inttypes.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "app.h"

void measurements(void)
{
    double x = sink;
    snprintf(text, sizeof text, "%f %e %g %lld %s %p %Lf", x, x, x, (long long)x, "a", (void *)text, (long double)x);
    sscanf(text, "%lf %d %s", &x, (int *)&lsink, text);
    sink += strtod(text, 0) + strtold(text, 0) + atof(text) + strtof(text, 0);
    lsink = strtol(text, 0, 0) + (long)strtoul(text, 0, 16) + (long)strtoll(text, 0, 8) + atoi(text);
    lsink += (long)strtoimax(text, 0, 10) + (long)strtoull(text, 0, 0);
    time_t t = lsink;
    struct tm *tm = localtime(&t);
    strftime(text, sizeof text, "%c %Z", tm);
    lsink += mktime(tm);
    sink += difftime(t, 0);
    asctime(gmtime(&t));
    struct tm parsed;
    strptime(text, "%Y-%m-%d %H:%M:%S", &parsed);
    tzset();
    lsink += mktime(&parsed);
    strftime_l(text, 100, "%c", &parsed, 0);
    gmtime_r(&t, &parsed);
    asctime_r(&parsed, text);
    ctime_r(&t, text);
    sprintf(text, "%a %La", x, (long double)x);
    puts(text);
    fputs(text, stderr);
    ecvt(x, 10, (int *)&lsink, (int *)&lsink);
    fcvt(x, 3, (int *)&lsink, (int *)&lsink);
    gcvt(x, 5, text);
    char *a = 0;
    asprintf(&a, "%s %e", text, x);
    free(a);
    siprintf(text, "%d", 3);
    siscanf(text, "%d", (int *)&lsink);
    fiprintf(stdout, "%d", 0);
    setlocale(LC_ALL, "C");
    strerror((int)lsink);
    perror(text);
}
