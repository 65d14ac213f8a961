#pragma once

// Rounds x to a multiple of 1/n, halves away from zero (n = 10: 21.25 -> 21.3,
// -21.25 -> -21.3, 21.24 -> 21.2). A value whose decimal text ends in 5 rounds away from
// zero even when its double lies a hair below the half (20.45 is stored as 20.4499...).
// The result is the double nearest to the exact multiple. n <= 0, NaN and infinities
// give x back.
double RoundDecimals(double x, int n);
