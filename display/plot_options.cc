#include "display/plot_options.h"

#include <climits>
#include <string_view>

#include "textio/free_format.h"
#include "textio/layout.h"

namespace quorvane::display {

namespace {

// Style questions and tables are indented by 13 columns.
const std::string kIndent(13, ' ');

int to_int(long long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void indented(textio::Console& console, std::string_view text) {
  console.line(kIndent + std::string(text));
}

void colour_table(textio::Console& console) {
  console.blank_line();
  indented(console, "color table ______________________________________________");
  indented(console, "white(0) red(1)  yellow(2)  green(3)  aquamarine(4) pink(5) ");
  indented(console, "wheat(6)  grey(7)  browm(8)  blue(9)  blueviolet(10)");
  indented(console, "cyan(11)  turquoise(12)  magenta(13)  salmon(14)  black(15)");
  indented(console, "___________________________________________________________");
  console.blank_line();
}

void background_table(textio::Console& console) {
  console.blank_line();
  indented(console, "color table (background only) ____________________________");
  indented(console, "black(0) white(1)");
  indented(console, "___________________________________________________________");
  console.blank_line();
}

int ask_free_integer(textio::Console& console, std::string_view question) {
  return to_int(console.ask_integer(kIndent + std::string(question)));
}

int ask_four_column_integer(textio::Console& console, std::string_view question) {
  return to_int(console.ask_fixed_integer(kIndent + std::string(question), 4));
}

// "change ... from: <value>" in free format, then the new value.
float change_real(textio::Console& console, std::string_view question, float current) {
  indented(console, std::string(question) + " " + textio::free_real(current));
  return console.ask_real(kIndent + "to > ");
}

// After a gap, "change ... minor tics from: " with the count in 8 columns.
long long change_count(textio::Console& console, std::string_view question, int current,
                       bool fixed_reply) {
  console.blank_line();
  indented(console, std::string(question) + textio::format_integer(current, 8));
  const std::string prompt = kIndent + "to > ";
  return fixed_reply ? console.ask_fixed_integer(prompt, 4) : console.ask_integer(prompt);
}

void ask_background(PlotSettings& settings, textio::Console& console) {
  background_table(console);
  console.blank_line();
  const int choice = ask_free_integer(console, "select new background color [0 or 1] : ");
  if (choice == 0) {
    settings.ibgsel = 1;
    settings.ibgred = settings.ibggreen = settings.ibgblue = 0;
  } else if (choice == 1) {
    settings.ibgsel = 0;
    settings.ibgred = settings.ibggreen = settings.ibgblue = 254;
  } else if (choice == 2) {
    // A colour of the user's own; entries 0 and 15 keep their roles.
    settings.ibgred = ask_free_integer(console, "enter red value [0-255] > ");
    settings.ibggreen = ask_free_integer(console, "enter green value [0-255] > ");
    settings.ibgblue = ask_free_integer(console, "enter blue value [0-255] > ");
  }
}

}  // namespace

void reset_settings(PlotSettings& settings, const std::string& device) {
  settings.device = device;
  settings.ibgred = settings.ibggreen = settings.ibgblue = 254;
  settings.ibgsel = 0;
  settings.lstyle = 1;
  settings.lwidth = 2;
  settings.icolor = {15, 1, 9};
  settings.itext = 15;
  settings.iframe = 15;
  // The window starts as empty running extrema that the data then widen.
  settings.xmin = settings.ymin = kExtremumStart;
  settings.xmax = settings.ymax = -kExtremumStart;
}

void pltstyle(int iopt, PlotSettings& settings, textio::Console& console) {
  switch (iopt) {
    case 1:
      ask_background(settings, console);
      break;
    case 2:
      colour_table(console);
      settings.iframe = ask_free_integer(console, "select new frame color [0-15] : ");
      break;
    case 3:
      colour_table(console);
      console.blank_line();
      settings.itext = ask_free_integer(console, "select new text color: [0-15] : ");
      break;
    case 4:
      colour_table(console);
      settings.icolor[0] = ask_four_column_integer(console, "select new line color: [0-15] : ");
      break;
    case 5:
      colour_table(console);
      settings.icolor[1] = ask_four_column_integer(console, "select new curve color: [0-15] : ");
      break;
    case 6:
      console.blank_line();
      settings.lstyle = ask_four_column_integer(console, "select new line style: [0-8] : ");
      break;
    case 7:
      console.blank_line();
      settings.lwidth = ask_four_column_integer(console, "select new curve width: [0-8]  : ");
      break;
    case 8:
      console.blank_line();
      settings.xtick = change_real(console, "change x axis major tics from:", settings.xtick);
      break;
    case 9:
      settings.nxsub =
          to_int(change_count(console, "change x axis minor tics from: ", settings.nxsub, false));
      break;
    case 10:
      settings.ytick = change_real(console, "change y axis major tics from:", settings.ytick);
      break;
    case 11:
      settings.nysub =
          to_int(change_count(console, "change y axis minor tics from: ", settings.nysub, true));
      break;
    case 12:
      settings.ztick = change_real(console, "change z axis major tics from:", settings.ztick);
      break;
    case 13:
      settings.nzsub =
          to_int(change_count(console, "change z axis minor tics from: ", settings.nzsub, true));
      break;
    case 14:
      settings.xmax = change_real(console, "change x axis max value from:", settings.xmax);
      break;
    case 15:
      settings.xmin = change_real(console, "change x axis min value from:", settings.xmin);
      break;
    case 16:
      settings.ymax = change_real(console, "change y axis max value from:", settings.ymax);
      break;
    case 17:
      settings.ymin = change_real(console, "change y axis min value from:", settings.ymin);
      break;
    case 99:
      reset_settings(settings, settings.device);
      break;
    default:
      break;
  }
}

}  // namespace quorvane::display
