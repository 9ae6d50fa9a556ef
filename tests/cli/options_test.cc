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
       {"--skip", "3", "--per-line=12", "--multiplier", "0.01"},
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
         return a.resolution == 4 && a.tapers == 8 && a.noise == 2 && a.smoothing == 0.05f &&
                a.signal == 1 && a.estimate == 0 && a.normalize == 2 && a.reshape == 5 &&
                a.band == std::make_pair(0.05f, 0.25f);
       }},
      {"single",
       {"--noise", "white", "--background", "raw", "--reshape", "off"},
       [](const Options& o) {
         return o.analysis.noise == 1 && o.analysis.background == 0 && o.analysis.reshape == 0;
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
                o.analysis.fit == 0;
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
      {command("9", {}), "--layout"},
      {command("xlsx", {}), "--layout"},
      {command("single", {"--time-column", "age"}), "--time-column"},
      {command("multi", {"--columns", "3", "--value-columns", "a,b"}), "--value-columns"},
      {command("csv", {"--value-columns", "a,,b"}), "--value-columns"},
      {command("csv", {"--sampling", "regular"}), "--sampling"},
      {command("single", {"--bogus"}), "--bogus"},
      {command("single", {"--tapers"}), "--tapers"},
      {command("single", {"--tapers", "9"}), "--tapers"},
      {command("single", {"--tapers", "0"}), "--tapers"},
      {command("single", {"--tapers", "three"}), "--tapers"},
      {command("single", {"--resolution", "2.5"}), "--resolution"},
      {command("single", {"--resolution", "5"}), "--resolution"},
      {command("single", {"--noise", "pink"}), "--noise"},
      {command("single", {"--background", "median"}), "--background"},
      {command("single", {"--smoothing", "-1"}), "--smoothing"},
      {command("single", {"--smoothing", "nan"}), "--smoothing"},
      {command("single", {"--fit", "cubic"}), "--fit"},
      {command("single", {"--signal", "chirp"}), "--signal"},
      {command("single", {"--estimate", "best"}), "--estimate"},
      {command("single", {"--normalize", "2"}), "--normalize"},
      {command("single", {"--reshape", "80"}), "--reshape"},
      {command("single", {"--band", "0.3:0.1"}), "--band"},
      {command("single", {"--band", "0.1"}), "--band"},
      {command("single", {"--band", "-0.1:0.2"}), "--band"},
      {command("single", {"--band", "a:b"}), "--band"},
      {command("single", {"--reconstruct", "everything"}), "--reconstruct"},
      {command("single", {"--reconstruct", "0.1,-0.2"}), "--reconstruct"},
      {command("single", {"--reconstruct", "0.1,,0.2"}), "--reconstruct"},
      {command("single", {"--recon-level", "95"}), "--recon-level"},
      {command("single", {"--reconstruct", "trend", "--recon-level", "95"}), "--recon-level"},
      {command("single", {"--reconstruct", "peaks", "--recon-level", "101"}), "--recon-level"},
      {command("single", {"--reconstruct", "peaks", "--recon-level", "nan"}), "--recon-level"},
      {command("single", {"--constraint", "norm"}), "--constraint"},
      {command("single", {"--reconstruct", "peaks", "--constraint", "smooth"}), "--constraint"},
      {command("single", {"--plots", "gif"}), "--plots"},
      {command("single", {"--jobs", "0"}), "--jobs"},
      {command("single", {"--out", ""}), "--out"},
      {command("single", {"--series", "1,,2"}), "--series"},
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
      {command("monthly", {"--per-line", "0"}), "--per-line"},
      {command("monthly", {"--multiplier", "inf"}), "--multiplier"},
      {command("two", {"--skip", "-1"}), "--skip"},
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
      {command("single", {"--pad", "3"}), "--pad"},
      {command("single", {"--max-peaks", "101"}), "--max-peaks"},
      {command("single", {"--surrogates", "0", "--significance", "montecarlo"}), "--surrogates"},
      {command("single", {"--concentrations", "approximate"}), "--concentrations"},
      {command("single", {"--significance", "bootstrap"}), "--significance"},
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
