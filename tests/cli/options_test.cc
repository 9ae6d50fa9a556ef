// The option table of `quorvane analyse`: every option's accepted forms and
// its refusals.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "cli/batch.h"

namespace quorvane::cli {
namespace {

struct Parsed {
  ParseOutcome outcome;
  Options options;
  std::string out, err;
};

Parsed parse(std::vector<std::string> args) {
  Parsed p;
  std::ostringstream out, err;
  p.outcome = parse_command_line(args, p.options, out, err);
  p.out = out.str();
  p.err = err.str();
  return p;
}

// A valid command for `layout` with `extra` options after it.
std::vector<std::string> command(const std::string& layout, std::vector<std::string> extra) {
  std::vector<std::string> args = {"analyse", "series.dat", "--layout", layout};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

struct Accepted {
  std::string layout;
  std::vector<std::string> extra;
  std::function<bool(const Options&)> holds;
};

TEST(Options, EveryOptionAcceptsItsDocumentedForms) {
  using M = ReconOptions::Mode;
  const std::vector<Accepted> cases = {
      {"3", {}, [](const Options& o) { return o.input.layout == 3; }},
      {"Monthly",
       {"--skip", "3", "--per-line=012", "--multiplier", "0.01"},  // 012 is twelve, not octal
       [](const Options& o) {
         return o.input.layout == 6 && o.input.skip == 3 && o.input.per_line == 12 &&
                o.input.multiplier == 0.01f;
       }},
      {"rwl",
       {"--series", "2,ABC01,7"},
       [](const Options& o) {
         return o.input.layout == 1 &&
                o.input.series == std::vector<std::string>{"2", "ABC01", "7"};
       }},
      {"single",
       {"--resolution", "4", "--tapers", "8", "--noise", "local", "--smoothing", "0.05", "--signal",
        "narrowband", "--estimate", "hires", "--normalize", "dt", "--reshape", "99.5", "--band",
        "0.05:0.25"},
       [](const Options& o) {
         const AnalysisOptions& a = o.analysis;
         return a.resolution == 4 && a.tapers == 8 && a.noise == Noise::local && a.smoothing == 0.05f &&
                a.signal == Signal::narrowband && a.estimate == Estimate::hires &&
                a.normalize == Normalize::dt && a.reshape == 5 &&
                a.band == std::make_pair(0.05f, 0.25f);
       }},
      {"single",
       {"--noise", "white", "--background", "raw", "--reshape", "off"},
       [](const Options& o) {
         return o.analysis.noise == Noise::white && o.analysis.background == Background::raw && o.analysis.reshape == 0;
       }},
      {"single",
       {"--significance", "montecarlo", "--surrogates", "99", "--seed", "5", "--jackknife", "--pad",
        "4", "--concentrations", "exact", "--max-peaks", "0", "--median-bias-correction"},
       [](const Options& o) {
         const SignificanceOptions& g = o.significance;
         return g.montecarlo && g.surrogates == 99 && g.seed == 5 && g.jackknife && g.pad == 4 &&
                g.exact_concentrations && g.max_peaks == 0 && g.median_bias_correction;
       }},
      {"single",
       {"--reconstruct", "peaks", "--recon-level", "95", "--constraint", "rough", "--fit",
        "linear"},
       [](const Options& o) {
         return o.recon.mode == M::Peaks && o.recon.level == 95.0f && o.recon.constraint == 3 &&
                o.analysis.fit == Fit::linear;
       }},
      {"single",
       {"--reconstruct", "trend", "--constraint", "slope"},
       [](const Options& o) { return o.recon.mode == M::Trend && o.recon.constraint == 2; }},
      {"single",
       {"--reconstruct", "0.1,0.0909,0"},
       [](const Options& o) {
         return o.recon.mode == M::Frequencies &&
                o.recon.frequencies == std::vector<float>{0.1f, 0.0909f, 0.0f};
       }},
  };
  for (const auto& c : cases) {
    const auto args = command(c.layout, c.extra);
    const Parsed p = parse(args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_TRUE(p.outcome.run) << shown << "\n" << p.err;
    EXPECT_TRUE(p.err.empty()) << shown;
    if (p.outcome.run) {
      EXPECT_TRUE(c.holds(p.options)) << shown;
    }
  }
}

TEST(Options, EqualFrequenciesAreReconstructedOnceInTheOrderFirstGiven) {
  const Parsed p = parse(command("single", {"--reconstruct", "0.1,0.0909,0.10,0,0.0909,0.1"}));
  EXPECT_TRUE(p.outcome.run);
  EXPECT_EQ(p.options.recon.frequencies, (std::vector<float>{0.1f, 0.0909f, 0.0f}));
  EXPECT_EQ(p.err,
            "quorvane: warning: --reconstruct gives the frequency 0.1 more than once; its signal "
            "is reconstructed once\n"
            "quorvane: warning: --reconstruct gives the frequency 0.0909 more than once; its "
            "signal is reconstructed once\n");
}

struct Refused {
  std::vector<std::string> args;
  std::string named;  // the option the message must name
};

std::vector<Refused> refusals() {
  return {
      {{"analyse", "f.dat"}, "--layout"},
      {{"analyse", "--layout", "single"}, "FILE"},
      {command("single", {"--time-column", "age"}), "--time-column"},
      {command("multi", {"--columns", "3", "--value-columns", "a,b"}), "--value-columns"},
      {command("single", {"--bogus"}), "--bogus"},
      {command("single", {"--tapers"}), "--tapers"},
      {command("single", {"--recon-level", "95"}), "--recon-level"},
      {command("single", {"--reconstruct", "trend", "--recon-level", "95"}), "--recon-level"},
      {command("single", {"--constraint", "norm"}), "--constraint"},
      // Options of another layout, and what a layout needs.
      {command("single", {"--skip", "2"}), "--skip"},
      {command("rwl", {"--per-line", "12"}), "--per-line"},
      {command("two", {"--multiplier", "2"}), "--multiplier"},
      {command("monthly", {"--sentinel", "*"}), "--sentinel"},
      {command("multi", {"--columns", "3", "--record-layout", "(i4)"}), "--record-layout"},
      {command("crn", {"--columns", "3"}), "--columns"},
      {command("multi", {}), "--columns"},
      {command("multi", {"--columns", "1"}), "--columns"},
      {command("rows", {"--columns", "3"}), "--record-layout"},
      {command("rows", {"--record-layout", "(i4,f8.2)"}), "--columns"},
      // Settings that contradict each other.
      {command("single", {"--signal", "harmonic", "--noise", "red"}), "--noise"},
      {command("single", {"--signal", "harmonic", "--background", "raw"}), "--background"},
      {command("single", {"--signal", "harmonic", "--smoothing", "0.1"}), "--smoothing"},
      {command("single", {"--background", "raw", "--smoothing", "0.1"}), "--smoothing"},
      {command("single", {"--noise", "white", "--fit", "log"}), "--fit"},
      // Significance options that mean nothing in the run asked for.
      {command("single", {"--surrogates", "100"}), "--surrogates"},
      {command("single", {"--seed", "4"}), "--seed"},
      {command("single", {"--significance", "montecarlo", "--signal", "harmonic"}),
       "--significance"},
      {command("single", {"--median-bias-correction", "--signal", "harmonic"}),
       "--median-bias-correction"},
      {command("single", {"--median-bias-correction", "--background", "raw"}),
       "--median-bias-correction"},
      {command("single", {"--median-bias-correction", "--background", "raw", "--noise", "white"}),
       "--median-bias-correction"},
      {command("single", {"--jackknife", "--tapers", "1"}), "--jackknife"},
      {command("single", {"--jackknife", "--resolution", "1"}), "--jackknife"},
      {{"frobnicate"}, "analyse"},
  };
}

// Refused by the parser and by the whole command line, which then writes
// nothing, not even the output folder.
TEST(Options, EveryRefusalIsAUsageErrorNamingTheOptionThatWritesNothing) {
  const auto folder = std::filesystem::temp_directory_path() / "quorvane_refused_options";
  std::filesystem::remove_all(folder);
  const std::string example = std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat";
  for (auto c : refusals()) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    const Parsed p = parse(c.args);
    EXPECT_FALSE(p.outcome.run) << shown;
    EXPECT_EQ(p.outcome.exit_status, kUsageError) << shown;
    EXPECT_NE(p.err.find(c.named), std::string::npos) << shown << "\n" << p.err;
    EXPECT_TRUE(p.out.empty()) << shown;
    if (c.args.size() >= 2) c.args[1] = example;
    c.args.insert(c.args.end(), {"--out", folder.string()});
    std::ostringstream out, err;
    EXPECT_EQ(run_command_line(c.args, out, err), kUsageError) << shown;
    EXPECT_FALSE(std::filesystem::exists(folder)) << shown;
  }
}

// A refused value gets one line naming the option, what is wrong with the
// value and what the option accepts: the whole line where `message` starts
// with "quorvane", else the option's name and that fragment. The messages
// are built per kind of value from the option table, so a row for each
// kind and for each option with a message of its own, then each way a value
// can be wrong.
TEST(Options, ARefusedValueIsNamedWithWhatTheOptionAccepts) {
  const struct { bool evolve; const char *option, *value, *message; } cases[] = {
      {false, "--layout", "9",
       "quorvane: --layout: '9' is not one of rwl, crn, single, two, multi, monthly, rows, csv or "
       "their codes 1 to 8"},
      {false, "--skip", "-1", "expected a whole number of lines from 0 to 1000000"},
      {false, "--multiplier", "inf", "expected a finite number, the factor to the values' units"},
      {false, "--sentinel", "", "expected the marker of a missing cell, such as *"},
      {false, "--record-layout", "", "expected the layout of one line in parentheses"},
      {false, "--time-column", "", "expected the header of the time column"},
      {false, "--value-columns", "a,,b", "expected the headers of the series' columns separated"},
      {false, "--series", "1,,2", "expected all, or series numbers (from 1) and names separated"},
      {false, "--resolution", "2.5", "expected a whole number of Rayleigh frequencies from 1 to"},
      {false, "--tapers", "9",
       "quorvane: --tapers: '9' is out of range; expected a whole number of tapers from 1 to 8"},
      {false, "--sampling", "regular", "is not one of auto, even, gaps, uneven, interpolate"},
      {false, "--noise", "pink", "quorvane: --noise: 'pink' is not one of red, white, local"},
      {false, "--smoothing", "0", "expected a width in frequency above 0"},
      {false, "--normalize", "2", "is not one of none, n, dt"},
      {false, "--reshape", "80", "is not one of off, 50, 90, 95, 99, 99.5, 99.9"},
      {false, "--band", "0.3:0.1", "expected FMIN:FMAX, two frequencies with 0 <= FMIN < FMAX"},
      {false, "--pad", "2.5",
       "quorvane: --pad: '2.5' is not a whole number; expected 1, 2, 4 or 8 (the transform is "
       "at least FACTOR times the series length)"},
      {false, "--surrogates", "18",
       "'18' is out of range; expected a whole number of surrogate series from 19 to 100000 "
       "(fewer than 19 surrogates cannot place a 95 % level"},
      {false, "--seed", "-1", "expected a whole number from 0 to 18446744073709551615"},
      {false, "--reconstruct", "0.1,-0.2",
       "quorvane: --reconstruct: '-0.2' is not a frequency of 0 or more; expected peaks, trend "
       "or at most 100 frequencies F1,F2,... of 0 or more"},
      {false, "--recon-level", "101", "expected a percentage from 0 to 100"},
      {false, "--constraint", "smooth", "is not one of misfit, norm, slope, rough"},
      {false, "--out", "",
       "quorvane: --out: the value is empty; expected the folder of the result files"},
      {false, "--plots", "gif", "is not one of none, png, svg, pdf"},
      {false, "--jobs", "0", "expected a whole number of jobs from 1 to 1024"},
      {false, "--format", "hdf5", "quorvane: --format: 'hdf5' is not one of csv, netcdf"},
      {false, "--spectrum-band", "-0.1:0.2", "'-0.1:0.2' is not a frequency band; expected FMIN"},
      {true, "--window", "-1", "expected a window length above 0 in the series' time units"},
      {true, "--step", "0",
       "quorvane evolve: --step: '0' is not a positive number; expected a step above 0 in the "
       "series' time units"},
      {true, "--show", "heat", "is not one of power, ratio"},
      // Values of every kind, and each way a value can be wrong.
      {false, "--tapers", "", "--tapers: the value is empty; expected a whole number of tapers"},
      {false, "--tapers", "99999999999999999999", "'99999999999999999999' is out of range"},
      {false, "--pad", "3", "'3' is not a power of two up to 8"},
      {false, "--smoothing", "nan", "'nan' is not a finite number"},
      {false, "--smoothing", "1e40", "'1e40' is out of range"},
      {false, "--recon-level", "a", "'a' is not a number"},
      {false, "--band", "0.1", "'0.1' is not a frequency band"},
      {false, "--reconstruct", "0.1,,0.2", "'0.1,,0.2' holds an empty frequency"},
  };
  for (const auto& c : cases) {
    const std::string option = c.option;
    std::vector<std::string> args = {c.evolve ? "evolve" : "analyse", "series.dat"};
    if (option != "--layout") args.insert(args.end(), {"--layout", "single"});
    for (const std::string window : {"--window", "--step"})
      if (c.evolve && option != window) args.insert(args.end(), {window, "5"});
    args.insert(args.end(), {option, c.value});
    std::ostringstream out, err;
    EXPECT_EQ(run_command_line(args, out, err), kUsageError) << option << " " << c.value;
    EXPECT_TRUE(out.str().empty());
    const std::string line = err.str().substr(0, err.str().find('\n'));
    const std::string named = (c.evolve ? "quorvane evolve: " : "quorvane: ") + option + ": ";
    if (std::string(c.message).rfind("quorvane", 0) == 0) {
      EXPECT_EQ(line, c.message);
    } else {
      EXPECT_EQ(line.rfind(named, 0), 0u) << line;
      EXPECT_NE(line.find(c.message), std::string::npos) << line;
    }
  }
}

TEST(Options, HelpAndVersionPrintAndStopWithoutRunning) {
  const Parsed help = parse({"--help"});
  EXPECT_FALSE(help.outcome.run);
  EXPECT_EQ(help.outcome.exit_status, 0);
  EXPECT_NE(help.out.find("  --median-bias-correction "), std::string::npos);
  EXPECT_EQ(parse({"analyse", "--help"}).out, help.out);
  const Parsed version = parse({"--version"});
  EXPECT_FALSE(version.outcome.run);
  EXPECT_EQ(version.outcome.exit_status, 0);
  EXPECT_EQ(version.out, "quorvane 15.0\n");
}

}  // namespace
}  // namespace quorvane::cli
