// Prints the significant peaks of the first series of a single-column file,
// such as examples/sunspots.dat.
#include <quorvane/quorvane.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: peaks FILE (a single-column series file)\n");
    return 2;
  }
  const auto series = quorvane::read(argv[1], "single");
  if (!series) {
    std::fprintf(stderr, "%s\n", series.message().c_str());
    return 1;
  }
  const auto spectrum = quorvane::spectrum(series->front());
  if (!spectrum) {
    std::fprintf(stderr, "%s\n", spectrum.message().c_str());
    return 1;
  }
  std::printf("quorvane %s: %s, %d values\n", quorvane::version(), spectrum->name.c_str(),
              spectrum->length);
  std::printf("frequency  period  significance  ratio\n");
  for (const quorvane::Peak& p : spectrum->peaks)
    std::printf("%9.5f %7.2f %8.0f %%  %8.3f%s\n", p.frequency, p.period, p.significance, p.ratio,
                p.trend ? "  (trend)" : "");
  return 0;
}
