#include "base/RoundDecimals.h"

#include <cfloat>
#include <cmath>

double RoundDecimals(double x, int n)
{
    if (n <= 0 || !std::isfinite(x))
        return x;
    const double whole = std::trunc(x);
    const double f = x - whole; // exact: same sign as x
    if (f == 0)
        return x;
    const double s = f * n;
    double r = std::trunc(s);
    const double fs = s - r;
    // x carries a representation error of up to half an ulp of x, which the multiplication
    // scales by n; a fraction of s that close to one half is taken as the half its decimal
    // text shows.
    const double slack = 4 * DBL_EPSILON * (std::fabs(x) * n + 1);
    if (fs >= 0.5 - slack)
        r += 1;
    else if (fs <= -0.5 + slack)
        r -= 1;
    const double scaledWhole = whole * n;
    if (std::fabs(scaledWhole) >= 9007199254740992.0) // 2^53: no room for the fraction
        return whole + r / n;
    // One division of exact integers gives the nearest double to the multiple.
    return (scaledWhole + r) / n;
}
