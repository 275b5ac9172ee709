#include <complex.h>
#include <math.h>

#include "app.h"

void maths(void)
{
    double x = sink;
    float f = (float)x;
    long double l = x;
    double s, c;
    sink = sin(x) + cos(x) + tan(x) + asin(x) + acos(x) + atan2(x, x) + sinh(x) + cosh(x) + tanh(x) + exp(x) +
           log(x) + log10(x) + pow(x, x) + sqrt(x) + cbrt(x) + hypot(x, x) + fmod(x, x) + erf(x) + erfc(x) +
           lgamma(x) + tgamma(x) + j0(x) + j1(x) + y0(x) + y1(x) + jn(2, x) + yn(2, x) + expm1(x) + log1p(x) +
           asinh(x) + acosh(x) + atanh(x) + exp2(x) + log2(x) + remainder(x, x) + nextafter(x, x) + fma(x, x, x) +
           scalbn(x, 3) + ldexp(x, 2) + round(x) + trunc(x) + rint(x) + nearbyint(x) + lround(x) + fdim(x, x) +
           fmax(x, x) + copysign(x, x) + logb(x) + ilogb(x) + remquo(x, x, (int *)&lsink) + nan("") + scalbln(x, 3);
    sincos(x, &s, &c);
    sink += s + c + frexp(x, (int *)&lsink) + modf(x, &s);
    sink += sinf(f) + cosf(f) + expf(f) + logf(f) + powf(f, f) + atan2f(f, f) + sqrtf(f) + tgammaf(f) + erff(f) +
            erfcf(f) + fmaf(f, f, f) + remquof(f, f, (int *)&lsink) + j0f(f) + j1f(f) + y0f(f) + y1f(f) + jnf(2, f) +
            ynf(2, f) + lgammaf(f) + expm1f(f) + log1pf(f) + cbrtf(f) + hypotf(f, 2) + asinhf(f) + acoshf(f) +
            atanhf(f) + sinhf(f) + coshf(f) + tanhf(f) + fmodf(f, 2) + tanf(f) + asinf(f) + acosf(f) + log10f(f) +
            exp2f(f) + log2f(f) + nexttowardf(f, x);
    sink += expl(l) + logl(l) + powl(l, l) + sinl(l) + cosl(l) + sqrtl(l) + atan2l(l, l);
    double complex z = x + I * x;
    z = cpow(z, z) + clog(z) + casin(z) + cacos(z) + catan(z) + csinh(z) + ccosh(z) + ctanh(z) + casinh(z) +
        cacosh(z) + catanh(z) + csin(z) + ccos(z) + ctan(z) + cproj(z) + csqrt(z) + cexp(z);
    float complex zf = f + I;
    zf = cpowf(zf, zf) + clogf(zf) + csinf(zf) + cexpf(zf) + csqrtf(zf) + csinhf(zf);
    sink += creal(z) + crealf(zf) + cabs(z) + cargf(zf);
}
