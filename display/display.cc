#include "display/display.h"
namespace quorvane::display {
struct Display::State {};
Display::Display(textio::Console&) {}
Display::~Display() = default;
void Display::display(const PlotInput&) {}
}
