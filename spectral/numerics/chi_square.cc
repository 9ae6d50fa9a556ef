#include "spectral/numerics/chi_square.h"

#include <cmath>
#include <string>

#include "textio/layout.h"

namespace quorvane::spectral {

namespace {

void emit(const MessageSink& sink, const std::string& line) {
  if (sink) sink(line);
}

// ln Gamma(a) for a > 0 by recurrence up to 10 and Stirling's series there.
double gamma_function(double a) {
  double z = a;
  double den = 1.0;
  while (z < 10.0) {
    den *= z;
    z += 1.0;
  }
  // d_k = B_2k / (2k (2k - 1)), k = 1..9.
  static constexpr double d[9] = {1.0 / 12.0,         -1.0 / 360.0,     1.0 / 1260.0,
                                  -1.0 / 1680.0,      1.0 / 1188.0,     -691.0 / 360360.0,
                                  1.0 / 156.0,        -3617.0 / 122400.0, 43867.0 / 244188.0};
  double series = 0.0;
  double power = z;  // z^(2k-1)
  for (double dk : d) {
    series += dk / power;
    power *= z * z;
  }
  const double log_gamma = (z - 0.5) * std::log(z) - z + 0.9189385332046728 + series;
  return std::exp(log_gamma) / den;
}

constexpr int kMaxSeriesTerms = 10000;

// Gamma distribution function of shape a at x; false when the series does
// not converge within kMaxSeriesTerms terms.
bool gamma_cdf(double x, double a, double gamma_a, double& g) {
  double term = 1.0 / a;
  double sum = term;
  const double cut = x * 1e10;
  for (int j = 1;; ++j) {
    if (j > kMaxSeriesTerms) return false;
    term = term * x / (a + j);
    sum += term;
    if (term * cut / sum + (x - a) < j) break;
  }
  g = std::pow(x, a) * std::exp(-x) * sum / gamma_a;
  return true;
}

}  // namespace

float chsppf(float p, int nu, const MessageSink& sink) {
  if (p < 0.0f || p >= 1.0f || std::isnan(p)) {
    emit(sink, " ***** fatal error--the first");
    emit(sink, " input argument to the chsppf subroutine");
    emit(sink, " is outside the allowable (0,1) interval *****)");
    emit(sink, " ***** the value of the argument is ");
    emit(sink, std::string(" ").append(textio::format_exponent(p, 15, 8)).append(" *****"));
    return 0.0f;
  }
  if (nu < 1) {
    emit(sink, " ***** fatal error--the second");
    emit(sink, " input argument to the chsppf subroutine");
    emit(sink, " is non-positive *****");
    emit(sink, " ** the value of the argument is " + textio::format_integer(nu, 8) + " ***");
    return 0.0f;
  }
  auto iteration_failure = [&]() {
    emit(sink, std::string(" *****error in internal operations in the chsppf ") +
                   "subroutine--the number of iterations exceeds " + textio::format_integer(kMaxSeriesTerms, 7));
    emit(sink, " " + std::string("     the input value of p     is ") + textio::format_exponent(p, 15, 8));
    emit(sink, " " + std::string("     the input value of nu    is ") + textio::format_integer(nu, 8));
    emit(sink, " " + std::string("     the output value of ppf has been set to 0.0"));
    return 0.0f;
  };

  const double pd = p;
  const double a = nu / 2.0;
  const double gamma_a = gamma_function(a);
  const double x0 = std::pow(pd * a * gamma_a, 1.0 / a);

  // Bracket: step up in multiples of the start value.
  double xlow = x0;
  double x = x0;
  for (int i = 1; i <= 30000; ++i) {
    x = i * x0;
    double g = 0.0;
    if (!gamma_cdf(x, a, gamma_a, g)) return iteration_failure();
    if (g < pd) {
      xlow = x;
    } else {
      break;
    }
  }
  double xhigh = x;

  // Bisection.
  double xmid = (xlow + xhigh) / 2.0;
  for (int step = 1;; ++step) {
    double g = 0.0;
    if (!gamma_cdf(xmid, a, gamma_a, g)) return iteration_failure();
    if (g == pd) break;
    if (g <= pd) {
      xlow = xmid;
    } else {
      xhigh = xmid;
    }
    xmid = (xlow + xhigh) / 2.0;
    if (std::fabs(xmid - xlow) < 1e-10 || step >= 101) break;
  }
  return static_cast<float>(2.0 * xmid);
}

}  // namespace quorvane::spectral
