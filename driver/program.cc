#include "driver/program.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <istream>
#include <ostream>
#include <string>
#include <utility>

#include "api/analysis.h"
#include "api/analysis_record.h"
#include "api/options.h"
#include "api/results.h"
#include "display/display.h"
#include "input/setup.h"
#include "plots/result_plots.h"
#include "spectral/estimators/even.h"
#include "spectral/stages/pipeline.h"

namespace quorvane::driver {
namespace {

using api::AnalysisRecord;
using api::nsigmax;
using textio::Console;
using textio::Value;

// The answer prompt of every setting dialog.
constexpr std::string_view kResponse = "    enter Response :>> ";

std::string text(std::string_view s) { return std::string(s); }

// The menu text of a three-way option: code 0, code 1, any other code.
std::string_view by_code(int code, std::string_view zero, std::string_view one,
                         std::string_view other) {
  return code == 0 ? zero : code == 1 ? one : other;
}

// The dialogue's analysis options as the numbers typed at its menus. A
// number outside the listed choices is kept as typed: the menu shows it as
// its last choice and the next spectrum run refuses it.
struct MenuCodes {
  int noise = 0;       // (0) red (1) white (2) locally-white
  int background = 1;  // (0) raw (1) robust
  int fit = 1;         // (0) linear (1) log
  int signal = 0;      // (0) harmonic or narrowband (1) narrowband (2) harmonic
  int estimate = 1;    // (0) high-resolution (1) adaptive
  int normalize = 0;   // (0) none (1) N (2) 1/dt; any other number: none
  int reshape = 1;     // 1 reshapes; any other number does not
};

MenuCodes codes_of(const AnalysisRecord& r) {
  MenuCodes c;
  c.noise = static_cast<int>(r.noise);
  c.background = static_cast<int>(r.background);
  c.fit = static_cast<int>(r.fit);
  c.signal = static_cast<int>(r.signal_assumption);
  c.estimate = r.estimate == Estimate::adaptive ? 1 : 0;
  c.normalize = static_cast<int>(r.normalize);
  c.reshape = r.reshape ? 1 : 0;
  return c;
}

// Puts the settings the codes choose into r, or refuses a code outside its
// choices; a series or taper count the engine refuses is reported first,
// as the engine checks those before the options.
Status apply_codes(const MenuCodes& c, AnalysisRecord& r) {
  const auto within = [](int code, int last) { return code >= 0 && code <= last; };
  if (!within(c.noise, 2) || !within(c.background, 1) || !within(c.fit, 1) ||
      !within(c.signal, 2) || !within(c.estimate, 1)) {
    if (Status shape = spectral::check_series_shape(api::spec_settings(r)); !shape) return shape;
    return Status::failure("An analysis option is outside its range (inoise " +
                           std::to_string(c.noise) + ", irobust " + std::to_string(c.background) +
                           ", ilogfit " + std::to_string(c.fit) + ", isignal " +
                           std::to_string(c.signal) + ", iadapt " + std::to_string(c.estimate) +
                           ", isiglev " + std::to_string(r.isiglev) + ").");
  }
  r.noise = static_cast<Noise>(c.noise);
  r.background = static_cast<Background>(c.background);
  r.fit = static_cast<Fit>(c.fit);
  r.signal_assumption = static_cast<Signal>(c.signal);
  r.estimate = c.estimate == 1 ? Estimate::adaptive : Estimate::hires;
  r.normalize = c.normalize == 1 ? Normalize::n : c.normalize == 2 ? Normalize::dt : Normalize::none;
  r.reshape = c.reshape == 1;
  return Status::success();
}

class Program {
 public:
  explicit Program(Console& console) : console_(console), display_(console) {}

  void run() {
    banner();
    ask_file();
    reuse_ = false;
    input_series();
    while (main_menu()) {
    }
  }

 private:
  // Lines of list-directed output: one leading blank, then the items.
  void say(std::string_view line) { console_.write_free({text(line)}); }

  void banner() {
    console_.blank_line();
    console_.write("(/1x,'Program: Quorvane v15 ~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~')");
    console_.blank_line();
    console_.line("     Multitaper spectral analysis of one evenly sampled series:");
    console_.line("     Slepian tapers, harmonic F-test, red, white and locally-white");
    console_.line("     noise backgrounds with 50, 90, 95 and 99 % confidence levels,");
    console_.line("     and reconstruction of chosen signals and of the trend.");
    console_.line("     The README lists the input layouts and an example session.");
    console_.blank_line();
    console_.line("     Updated 01/2011 for OSX_Intel and WindowsXP");
    console_.line("     Version 11");
    console_.line("     Spectral estimates after D. J. Thomson (1982), Proc. IEEE 70;");
    console_.line("     robust noise backgrounds after M. E. Mann and J. M. Lees");
    console_.line("     (1996), Climatic Change 33; plots drawn with PLplot and the");
    console_.line("     linear algebra done by LAPACK.");
    console_.write("(1x,'~~~~~~~~~~~~~~~~~~~~~~~~ Feb.01,2013 ~~~~~~~~~~~~~~~~~~~~~~'/)");
  }

  // Asks for the input file until an existing one is named.
  void ask_file() {
    while (true) {
      std::string name = console_.ask_text(" Enter Time Series File : ");
      if (name.size() > 80) name.resize(80);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
      std::error_code error;
      if (!name.empty() && std::filesystem::is_regular_file(name, error)) {
        record_.fname = name;
        return;
      }
      std::string padded = name;
      padded.resize(80, ' ');
      console_.write("(/1x,'WARNING: File > ',a30,'<does not exist',/)", {padded});
      console_.pause(" Hit return to continue");
    }
  }

  // Series input (first input or re-selection), then the defaults.
  void input_series() {
    bool reuse = reuse_;
    reuse_ = false;
    while (true) {
      input::ChosenSeries chosen = input_.setup(console_, record_.fname, reuse);
      // The spectrum of a series with gaps or uneven steps gets the analysis
      // its sampling calls for, as on the command line by default.
      Status loaded =
          api::load_series(record_, std::move(chosen), api::SamplingChoice::automatic, {});
      if (loaded) break;
      console_.line(" " + loaded.message);
      reuse = true;
    }
    if (const std::string line = api::sampling_line(record_); !line.empty()) console_.line(line);
    set_defaults();
  }

  // Every plot is on again for a new series.
  void set_defaults() {
    api::set_defaults(record_);
    plots_ = {};
    codes_ = codes_of(record_);
    computed_ = false;
    reconstruct_next_ = false;
  }

  void show_menu() {
    const AnalysisRecord& r = record_;
    const MenuCodes& c = codes_;
    const plots::PlotChoice& d = plots_;
    console_.blank_line();
    say("MAIN MENU - Quorvane");
    console_.blank_line();
    console_.write("(1x,'1) variance/resolution tradeoff:')");
    console_.write("(6x,'Resolution = ',i6)", {static_cast<long long>(r.p)});
    console_.write("(6x,'Number of tapers = ',i6)", {static_cast<long long>(r.nwin)});
    say(by_code(c.noise, "2) null hypothesis: red noise", "2) null hypothesis: white noise",
                "2) null hypothesis: locally-white noise"));
    if (c.signal != 2) {
      if (c.background == 0) {
        say("    * raw noise background estimation");
      } else {
        say("    * robust noise background estimation");
        console_.write_free({text("         & fsmooth = "), static_cast<double>(r.fsmooth)});
        if (c.noise == 0) {
          say(c.fit == 0 ? "    (min misfit noise background)"
                             : "    (min log-misfit noise background)");
        }
      }
    }
    say(by_code(c.signal, "3) signal assumption: harmonic or narrowband",
                "3) signal assumption: narrowband", "3) signal assumption: harmonic"));
    say("4) spectrum: ");
    say(c.estimate == 1 ? "    * adaptive estimate" : "    * high-resolution estimate");
    say(by_code(c.normalize, "    * no normalization", "    * normalize by  N ",
                "    * normalize by 1/dt"));
    if (c.reshape == 0) {
      say("    * unreshaped");
    } else {
      console_.write_free({text("    * reshaped at threshold ="), static_cast<double>(r.siglev),
                           text("%")});
    }
    console_.write_free({text("    * frequency range: "), static_cast<double>(r.fmin),
                         static_cast<double>(r.fmax)});
    console_.write_free({text("5) signals to reconstruct: "), static_cast<long long>(r.nsig)});
    if (d.raw + d.reshaped + d.median + d.levels + d.f_test == 0) {
      say("6) no display:");
    } else {
      say("6) display:");
      if (d.f_test == 1) {
        say("  \t *  F-test spectrum");
        say("  \t *   & 50% 90% 95% 99% sig levels");
      }
      if (d.raw == 1) say("    * raw spectrum");
      if (d.reshaped == 1) say("    * reshaped & harmonic spectra");
      if (d.median == 1) say("    * median smoothed spectrum");
      if (d.levels == 1) say("    * 50% 90% 95% 99% sig levels");
    }
    say("8) to exit program");
  }

  // One pass of the main menu; false when the user quits.
  bool main_menu() {
    AnalysisRecord& r = record_;
    show_menu();
    long long iopt = console_.ask_integer(" option (continue=0) :>> ");
    if (iopt == 0) {
      if (!computed_) {
        spectrum_run();
      } else if (reconstruct_next_) {
        reconstruction_run();
      }
      return true;
    }
    if (iopt == 8) {
      console_.blank_line();
      say("quitting...");
      return false;
    }
    if (iopt == 7) {
      reuse_ = true;
      input_series();
      return true;
    }
    if (iopt == 5) {
      // The signals dialog leads to a reconstruction, which needs evenly
      // spaced values.
      if (Status possible = api::check_reconstruction(r); !possible) {
        console_.line(" " + possible.message);
        return true;
      }
    }
    if (iopt < 5) {
      r.nsig = 0;
      r.iuse.fill(0);
      computed_ = false;
    }
    switch (iopt) {
      case 1: resolution_dialog(); break;
      case 2: noise_dialog(); break;
      case 3: signal_dialog(); break;
      case 4: spectrum_dialog(); break;
      case 6: display_dialog(); break;
      default: reconstruction_dialog(); break;
    }
    return true;
  }

  long long ask_response() { return console_.ask_integer(kResponse); }
  float ask_response_real() { return console_.ask_real(kResponse); }

  // Answers that select an option are ints; a huge typed number must not
  // wrap around into a valid code.
  static int clamp_int(long long value) {
    return static_cast<int>(std::clamp<long long>(value, -1000000000LL, 1000000000LL));
  }

  void resolution_dialog() {
    AnalysisRecord& r = record_;
    say("   resolution in \"p\" multiples of Rayleigh frequency");
    r.p = clamp_int(ask_response());
    console_.write_free({text("   number of tapers (suggested = "), 2LL * r.p - 1, text(" ) ")});
    r.nwin = clamp_int(ask_response());
    api::apply_resolution(r);
  }

  void noise_dialog() {
    AnalysisRecord& r = record_;
    if (codes_.signal == 2) {
      say("   harmonic signal-only detection requires");
      say("   a \"locally-white noise\" assumption...");
      return;
    }
    say("   null hypothesis:");
    say("   (0) red noise");
    say("   (1) white noise");
    say("   (2) locally-white noise");
    codes_.noise = clamp_int(ask_response());
    say("   background estimation:");
    say("   (0) raw");
    say("   (1) robust");
    codes_.background = clamp_int(ask_response());
    if (codes_.background != 1) return;
    const float half_range = r.frange * 0.5f;
    while (true) {
      say("   median smoothing width");
      console_.write_free({text("   choose: "), static_cast<double>(r.bndwdth), text(" < f <"),
                           static_cast<double>(half_range)});
      r.fsmooth = ask_response_real();
      if (r.bndwdth <= r.fsmooth && r.fsmooth <= half_range) break;
      say("   your frequency width is out of bounds!");
    }
    if (codes_.noise == 0) {
      say("   red noise background fit:");
      say("   (0) linear");
      say("   (1) log");
      codes_.fit = clamp_int(ask_response());
    }
  }

  void signal_dialog() {
    AnalysisRecord& r = record_;
    say("   signal assumption");
    say("   (0) harmonic or narrowband");
    say("   (1) narrowband");
    say("   (2) harmonic");
    codes_.signal = clamp_int(ask_response());
    if (codes_.signal == 2) {
      r.signal_assumption = Signal::harmonic;
      api::apply_signal(r);
      codes_.noise = static_cast<int>(r.noise);
    }
    plots::follow_signal(plots_, codes_.signal);
  }

  void spectrum_dialog() {
    AnalysisRecord& r = record_;
    say("   (0) high-resolution or (1) adaptive estimate");
    codes_.estimate = clamp_int(ask_response());
    say("   normalization:");
    say("   (0) none (1) N  (2) 1/dt");
    codes_.normalize = clamp_int(ask_response());
    say("   reshaping (yes=1)?");
    codes_.reshape = clamp_int(ask_response());
    if (codes_.reshape == 1) {
      // Only the six listed levels have an F level for the detection.
      while (true) {
        say("   sig. level for harmonic peak detection/reshaping");
        say("   (0) 50% (1) 90% (2) 95% (3) 99% (4) 99.5% (5) 99.9%");
        long long level = ask_response();
        if (level >= 0 && level <= 5) {
          r.isiglev = static_cast<int>(level) + 1;
          r.siglev = api::level_percent(r.isiglev);
          break;
        }
        say("   please choose a level from 0 to 5");
      }
    }
    say("   fmin:");
    r.fmin = ask_response_real();
    say("   fmax:");
    r.fmax = ask_response_real();
    api::apply_band(r);
  }

  void display_dialog() {
    plots::PlotChoice& d = plots_;
    const std::array<std::pair<std::string_view, int*>, 5> toggles = {{
        {"   (1) raw spectrum                : ", &d.raw},
        {"   (2) reshaped & harmonic spectra : ", &d.reshaped},
        {"   (3) median smoothed background  : ", &d.median},
        {"   (4) 50% 90% 95% 99% conf levels : ", &d.levels},
        {"   (5) F-test spectrum             : ", &d.f_test},
    }};
    while (true) {
      say("   display options (toggle)");
      for (const auto& [label, toggle] : toggles) {
        console_.write_free({text(label), static_cast<long long>(*toggle)});
      }
      say("   option to change: (0=continue)");
      long long answer = ask_response();
      if (answer == 0) return;
      if (answer >= 1 && answer <= 5) {
        int& toggle = *toggles[static_cast<std::size_t>(answer - 1)].second;
        toggle = 1 - toggle;
      }
      plots::follow_signal(d, codes_.signal);
      if (codes_.signal == 1) {
        d.reshaped = 0;
        d.f_test = 0;
      }
    }
  }

  // A frequency typed by hand: a number from 0 to the Nyquist frequency.
  float ask_frequency() {
    const float nyquist = 0.5f / record_.dt;
    while (true) {
      say("   frequency?");
      float f = ask_response_real();
      if (f >= 0.0f && f <= nyquist) return f;
      console_.write_free({text("   the frequency must lie between 0 and"),
                           static_cast<double>(nyquist)});
    }
  }

  // Adds a frequency typed by hand to the signals list, unless it is full.
  void add_frequency() {
    AnalysisRecord& r = record_;
    if (r.nsig >= nsigmax) {
      console_.write_free({text("   the signals list is full ("), static_cast<long long>(nsigmax),
                           text("entries); no frequency can be added")});
      return;
    }
    float f = ask_frequency();
    r.sigfreq[static_cast<std::size_t>(r.nsig)] = f;
    ++r.nsig;
  }

  void ask_constraint() {
    while (true) {
      say("   constraint option:");
      say("   (0) min misfit (1) min norm (2) min slope (3) min rough");
      long long answer = ask_response();
      if (answer >= 0 && answer <= 3) {
        record_.iconstr = static_cast<int>(answer);
        return;
      }
      say("   please choose a constraint from 0 to 3");
    }
  }

  void signal_table() {
    const AnalysisRecord& r = record_;
    say("   signal frequency signif% reconstruct");
    for (int i = 0; i < r.nsig; ++i) {
      const auto k = static_cast<std::size_t>(i);
      const long long rounded = static_cast<long long>(r.sigpct[k] + 0.5f);
      if (r.sigfreq[k] < r.bndwdth) {
        console_.write("(a1,i2,a11,i9,a1,i6)", {text("   ("), i + 1LL, text(")   TREND  "),
                                                 rounded, text("%"),
                                                 static_cast<long long>(r.iuse[k])});
      } else {
        console_.write("(a1,i2,a2,f9.4,i9,a1,i6)",
                       {text("   ("), i + 1LL, text(") "), static_cast<double>(r.sigfreq[k]),
                        rounded, text("%"), static_cast<long long>(r.iuse[k])});
      }
    }
    console_.write("(a1,i2,a22)", {text("   ("), r.nsig + 1LL, text(")    ADD NEW frequency")});
  }

  void reconstruction_dialog() {
    AnalysisRecord& r = record_;
    reconstruct_next_ = true;
    console_.write_free({text("   4) signals to reconstruct: "), static_cast<long long>(r.nsig)});
    if (r.nsig < 1) {
      say("   no signals to reconstruct");
      console_.write_free({text("   ("), r.nsig + 1LL, text(") "),
                           text("   enter your own frequency?")});
      say("   select (toggle) 0=continue");
      if (ask_response() == 0) return;
      add_frequency();
    } else {
      while (true) {
        signal_table();
        say("   select (toggle) 0=continue");
        long long s = ask_response();
        if (s == 0) break;
        if (s == r.nsig + 1) {
          add_frequency();
        } else if (s >= 1 && s <= r.nsig) {
          auto k = static_cast<std::size_t>(s - 1);
          r.iuse[k] = 1 - r.iuse[k];
        } else {
          console_.write_free({text("   please choose an entry from 0 to"), r.nsig + 1LL});
        }
      }
    }
    // The constraint is asked whenever the dialog leads to a run, so that it
    // can be chosen for a list of detected peaks too.
    ask_constraint();
    if (!computed_) {
      spectrum_run();
    } else {
      reconstruction_run();
    }
  }

  void spectrum_run() {
    AnalysisRecord& r = record_;
    if (Status chosen = apply_codes(codes_, r); !chosen) {
      console_.line(" " + chosen.message);
      return;
    }
    Status status =
        api::run_spectrum(r, [this](std::string_view line) { console_.line(line); }, {}, &session_);
    if (!status) {
      console_.line(" " + status.message);
      return;
    }
    const api::SpectrumTable table = api::spectrum_table(r);
    for (int kind : plots::spectrum_plot_kinds(plots_)) plot(plots::spectrum_plot(r, table, kind));
    computed_ = true;
  }

  void reconstruction_run() {
    AnalysisRecord& r = record_;
    Status status =
        api::reconstruct_selected(r, {}, [this](std::string_view line) { console_.line(line); }, &session_);
    if (!status) {
      console_.line(status.message);
      return;
    }
    plot(plots::reconstruction_plot(r, api::reconstruction_table(r, {})));
  }

  void plot(const display::PlotInput& input) { display_.display(input); }

  Console& console_;
  AnalysisRecord record_;
  MenuCodes codes_;
  bool reuse_ = false;             // the next series input chooses from the file already read
  bool computed_ = false;          // the results belong to the current settings
  bool reconstruct_next_ = false;  // continuing with valid results reconstructs
  // Which plots a spectrum run draws (the display menu's toggles).
  plots::PlotChoice plots_;
  // Keeps the tapers and run memory from one spectrum run to the next: a
  // series analysed again with other settings does not compute them again.
  spectral::SpecSession session_;
  input::SeriesInput input_;
  display::Display display_;
};

}  // namespace

void run_program(Console& console) { Program(console).run(); }

int run_quorvane(std::istream& in, std::ostream& out, std::ostream& err) {
  Console console(in, out, err);
  try {
    run_program(console);
  } catch (const textio::EndOfInput&) {
    out.flush();
    err << " Input ended before the dialogue was finished; quorvane stops.\n";
    return 2;
  } catch (const textio::ProgramStop& stop) {
    out.flush();
    return stop.status;
  }
  out.flush();
  return 0;
}

}  // namespace quorvane::driver
