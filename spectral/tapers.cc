#include "spectral/tapers.h"
namespace quorvane::spectral {
void taper2(int, int, float, Tapers&, EigenPath) {}
void taper1(int, int, float, Tapers&, EigenPath) {}
}
