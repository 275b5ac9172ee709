/* A firmware of realistic content for the fast-mode benchmark: it never runs, but it is
 * what firmware images mostly hold, the C library's formatting, parsing, maths, time
 * and text code with its tables and strings, linked as an application would link it. */
#include <stdio.h>
#include <stdlib.h>

#include "app.h"

volatile double sink;
volatile long lsink;
char text[256];

int main(void)
{
    measurements();
    maths();
    wide_text();
    records();
    printf("%s %f %ld\n", text, sink, lsink);
    return (int)lsink;
}
