#include "input/setup.h"
namespace quorvane::input {
struct SeriesInput::Table {};
SeriesInput::SeriesInput() = default;
SeriesInput::~SeriesInput() = default;
void SeriesInput::setup(textio::Console&, int, const std::string&, int&, float&, std::vector<float>&, std::string&, int&) {}
}
