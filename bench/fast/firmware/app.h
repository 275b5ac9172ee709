#ifndef APP_H
#define APP_H

extern volatile double sink;
extern volatile long lsink;
extern char text[256];

void measurements(void); /* formatting and parsing numbers and times */
void maths(void);        /* the maths library, real and complex */
void wide_text(void);    /* wide characters, locales, streams */
void records(void);      /* sorting, searching, random numbers */

/* Older conversions the library keeps, which its headers show only to old standards. */
char *ecvt(double, int, int *, int *);
char *fcvt(double, int, int *, int *);
char *gcvt(double, int, char *);
char *ecvtbuf(double, int, int *, int *, char *);
char *fcvtbuf(double, int, int *, int *, char *);

#endif
