// Band-wide significance of the strongest line of a spectrum: the chance
// that noise alone puts a ratio (or an F statistic) this large anywhere in
// the band, rather than at one frequency chosen in advance.
//
// A multitaper estimate over its background is chi-square with 2K degrees
// of freedom over 2K at each frequency; the band holds about band /
// bandwidth independent frequencies M, so the band-wide chance of an
// exceedance is 1 - (1 - p)^M (Sidak), p the chance at one frequency.
#pragma once

namespace quorvane::spectral {

// The number of independent frequencies of a band `width` wide for a full
// bandwidth `bandwidth`: width / bandwidth, at least 1.
double independent_frequencies(double width, double bandwidth);

// The chance that chi-square with 2K degrees of freedom, over 2K, exceeds
// `ratio` (1 for a ratio of 0 or less).
double ratio_exceedance(double ratio, int tapers);

// The chance that F with 2 and 2K - 2 degrees of freedom exceeds `f`
// (K >= 2; 1 for f of 0 or less).
double f_exceedance(double f, int tapers);

// The chance that at least one of `m` independent frequencies exceeds a
// level that each exceeds with chance p: 1 - (1 - p)^m, without the
// cancellation of the subtraction for small p.
double band_wide_chance(double p, double m);

// The ratio that noise exceeds anywhere among `m` independent frequencies
// with chance `alpha` (0 < alpha < 1): the level of one frequency at
// 1 - (1 - alpha)^(1/m), found by bisection to a relative 1e-12.
double band_wide_ratio(double alpha, double m, int tapers);

}  // namespace quorvane::spectral
