#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <sstream>
#include <string_view>

#include "api/results.h"

namespace quorvane::cli {

namespace {

// Names and their codes, in the order the help and the messages list them.
using CodeMap = std::vector<std::pair<std::string, int>>;

// Splits "a,b,c" into its items; an empty item is kept, so the caller can
// refuse it.
std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> items;
  std::string item;
  std::istringstream stream(text);
  while (std::getline(stream, item, separator)) items.push_back(item);
  if (!text.empty() && text.back() == separator) items.emplace_back();
  if (text.empty()) items.emplace_back();
  return items;
}

// How the text of a number reads, written in full (no trailing characters)
// in single precision.
enum class Reading { number, not_number, not_finite, out_of_range };

Reading read_number(const std::string& text, float& value) {
  std::size_t used = 0;
  try {
    value = std::stof(text, &used);
  } catch (const std::out_of_range&) {
    return Reading::out_of_range;
  } catch (const std::exception&) {
    return Reading::not_number;
  }
  if (used != text.size()) return Reading::not_number;
  return std::isfinite(value) ? Reading::number : Reading::not_finite;
}

// A finite number written in full.
bool parse_number(const std::string& text, float& value) {
  return read_number(text, value) == Reading::number;
}

// Every refusal says what is wrong with the value and what the option
// accepts; CLI11 puts the option's name in front.
std::string refusal(const std::string& text, const std::string& problem,
                    const std::string& expected) {
  if (text.empty()) return fmt::format("the value is empty; expected {}", expected);
  return fmt::format("'{}' {}; expected {}", text, problem, expected);
}

CLI::Validator number(std::function<bool(float)> accepted, const std::string& refused,
                      const std::string& expected) {
  return CLI::Validator(
      [accepted, refused, expected](std::string& text) {
        float value = 0.0f;
        switch (read_number(text, value)) {
          case Reading::not_number: return refusal(text, "is not a number", expected);
          case Reading::not_finite: return refusal(text, "is not a finite number", expected);
          case Reading::out_of_range: return refusal(text, "is out of range", expected);
          case Reading::number: break;
        }
        return accepted(value) ? std::string() : refusal(text, refused, expected);
      },
      "");
}

// Turns one of the names of `codes` (in any letter case) into its code; the
// message lists the names in their order unless `expected` says otherwise.
CLI::Validator named_codes(const CodeMap& codes, std::string expected = "") {
  if (expected.empty()) {
    for (const auto& [word, code] : codes) {
      if (!expected.empty()) expected += ", ";
      expected += word;
    }
    expected.insert(0, "one of ");
  }
  return CLI::Validator(
      [codes, expected](std::string& text) {
        std::string lower = text;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto found = std::find_if(codes.begin(), codes.end(), [&lower](const auto& entry) {
          return entry.first == lower;
        });
        if (found == codes.end()) {
          if (text.empty()) return refusal(text, "", expected);
          // "'pink' is not one of red, white, local"
          return fmt::format("'{}' is not {}", text, expected);
        }
        text = std::to_string(found->second);
        return std::string();
      },
      "");
}

const CLI::Validator kBand(
    [](std::string& text) {
      const auto items = split(text, ':');
      float fmin = 0.0f, fmax = 0.0f;
      if (items.size() != 2 || !parse_number(items[0], fmin) || !parse_number(items[1], fmax) ||
          fmin < 0.0f || fmax <= fmin)
        return refusal(text, "is not a frequency band",
                       "FMIN:FMAX, two frequencies with 0 <= FMIN < FMAX");
      return std::string();
    },
    "");

// The two numbers of a text that kBand accepted.
std::pair<float, float> band_of(const std::string& text) {
  const auto items = split(text, ':');
  float fmin = 0.0f, fmax = 0.0f;
  parse_number(items[0], fmin);
  parse_number(items[1], fmax);
  return {fmin, fmax};
}

// Breaks a description into lines of at most `width` characters at blanks,
// so that the help fits a terminal beside the option column. A default stays
// on one line with its value.
std::string wrapped(const std::string& text, std::size_t width) {
  std::string result, line, word, value;
  std::istringstream words(text);
  while (words >> word) {
    if ((word == "default" || word == "(default") && words >> value) word += " " + value;
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      result += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return result + line;
}

}  // namespace

CLI::Validator positive_number(const std::string& expected) {
  return number([](float v) { return v > 0.0f; }, "is not a positive number", expected);
}

// Rewrites the text as a plain decimal, so that CLI11, which reads whole
// numbers in C's notation, takes 010 as ten and not as octal eight.
CLI::Validator whole_number(std::function<bool(unsigned long long)> accepted,
                            const std::string& expected, const std::string& refused) {
  return CLI::Validator(
      [accepted, expected, refused](std::string& text) {
        std::string_view digits = text;
        const bool negative = !digits.empty() && digits.front() == '-';
        if (!digits.empty() && (negative || digits.front() == '+')) digits.remove_prefix(1);
        unsigned long long value = 0;
        const char* last = digits.data() + digits.size();
        const auto [end, error] = std::from_chars(digits.data(), last, value);
        if (digits.empty() || end != last || error == std::errc::invalid_argument)
          return refusal(text, "is not a whole number", expected);
        if (error == std::errc::result_out_of_range || (negative && value != 0))
          return refusal(text, "is out of range", expected);
        if (!accepted(value)) return refusal(text, refused, expected);
        text = std::to_string(value);
        return std::string();
      },
      "");
}

std::function<bool(unsigned long long)> from_to(unsigned long long low, unsigned long long high) {
  return [low, high](unsigned long long v) { return low <= v && v <= high; };
}

const CLI::Validator& band_text() { return kBand; }
std::pair<float, float> band_value(const std::string& text) { return band_of(text); }

CLI::Validator choice_codes(const std::vector<std::pair<std::string, int>>& codes) {
  return named_codes(codes);
}

// One of `names` in any letter case, as written there.
CLI::Validator one_of(const std::vector<std::string>& names) {
  CodeMap codes;
  for (const auto& name : names) codes.emplace_back(name, static_cast<int>(codes.size()));
  const CLI::Validator code = named_codes(codes);
  return CLI::Validator(
      [code, names](std::string& text) {
        std::string message = code(text);
        if (message.empty()) text = names[std::stoul(text)];
        return message;
      },
      "");
}

CLI::Validator not_empty(const std::string& expected) {
  return CLI::Validator(
      [expected](std::string& text) {
        return text.empty() ? refusal(text, "", expected) : std::string();
      },
      "");
}

void wrap_descriptions(CLI::App& app) {
  for (CLI::Option* option : app.get_options())
    option->description(wrapped(option->get_description(), 60));
}

// The layout and the answers the dialogue asks for it.
void add_layout_options(CLI::App& app, InputOptions& in, const std::string& suffix,
                        const std::string& second) {
  const std::string group = "Input";
  const std::size_t first = app.get_options().size();
  CodeMap layouts;
  for (std::size_t i = 0; i < layout_names().size(); ++i) {
    layouts.emplace_back(layout_names()[i], static_cast<int>(i) + 1);
    layouts.emplace_back(std::to_string(i + 1), static_cast<int>(i) + 1);
  }
  CLI::Option* layout = app.add_option("--layout" + suffix, in.layout,
                 "Layout of FILE, 1..8 or rwl (raw ring widths, decade lines), crn "
                 "(chronology), single, two, multi (columns), monthly, rows, csv (required)")
      ->transform(named_codes(
          layouts, "one of rwl, crn, single, two, multi, monthly, rows, csv or their codes 1 to 8"))
      ->type_name("LAYOUT")
      ->group(group);
  app.add_option_function<int>(
         "--skip" + suffix, [&in](const int& v) { in.skip = v; },
         "Lines to skip at the top (two, multi, monthly, rows, csv; default 0)")
      ->transform(whole_number(from_to(0, 1000000), "a whole number of lines from 0 to 1000000"))
      ->type_name("N")
      ->group(group);
  app.add_option_function<int>(
         "--per-line" + suffix, [&in](const int& v) { in.per_line = v; },
         "Values per line (monthly; default 12)")
      ->transform(whole_number(from_to(1, 99), "a whole number of values from 1 to 99"))
      ->type_name("N")
      ->group(group);
  app.add_option_function<float>(
         "--multiplier" + suffix, [&in](const float& v) { in.multiplier = v; },
         "Factor that brings the values to their units (monthly; default 1.0)")
      ->check(number([](float) { return true; }, "",
                     "a finite number, the factor to the values' units"))
      ->type_name("X")
      ->group(group);
  app.add_option_function<std::string>(
         "--sentinel" + suffix, [&in](const std::string& v) { in.sentinel = v; },
         "Marker of a missing cell, * for a field of asterisks (multi; default *)")
      ->check(not_empty("the marker of a missing cell, such as *"))
      ->type_name("TEXT")
      ->group(group);
  app.add_option_function<std::string>(
         "--record-layout" + suffix, [&in](const std::string& v) { in.record_layout = v; },
         "Layout of one line in parentheses, such as '(1x,i4,12f7.2)' (rows; required there)")
      ->check(not_empty("the layout of one line in parentheses, such as (1x,i4,12f7.2)"))
      ->type_name("LAYOUT")
      ->group(group);
  app.add_option_function<int>(
         "--columns" + suffix, [&in](const int& v) { in.columns = v; },
         "Columns including X (multi) or values read per line (rows); "
         "required for both")
      ->transform(whole_number(from_to(1, 100000), "a whole number of columns from 1 to 100000"))
      ->type_name("N")
      ->group(group);
  app.add_option_function<std::string>(
         "--time-column" + suffix, [&in](const std::string& v) { in.time_column = v; },
         "Header of the time column (csv; default the first column)")
      ->check(not_empty("the header of the time column"))
      ->type_name("NAME")
      ->group(group);
  app.add_option_function<std::string>(
         "--value-columns" + suffix, [&in](const std::string& v) { in.value_columns = split(v, ','); },
         "Headers of the series' columns, separated by commas (csv; default every other "
         "numeric column)")
      ->check(CLI::Validator(
          [](std::string& text) {
            for (const auto& item : split(text, ','))
              if (item.empty())
                return refusal(text, "holds an empty column name",
                               "the headers of the series' columns separated by commas");
            return std::string();
          },
          ""))
      ->type_name("NAME[,...]")
      ->group(group);
  if (suffix.empty()) {
    layout->required();
    return;
  }
  // A second file's options say which file they are for, and default to
  // the first file's values.
  const std::vector<CLI::Option*> options = app.get_options();
  for (std::size_t i = first; i < options.size(); ++i) {
    const std::string name = options[i]->get_name();
    options[i]->description(second + ": as " + name.substr(0, name.size() - suffix.size()) +
                            " (default that of the first file)");
  }
}

// Input: the layout and the answers the dialogue asks for it.
void add_input_options(CLI::App& app, Options& o) {
  app.add_option("FILE", o.input.file, "The series file")
      ->required()
      ->type_name("")
      ->check(not_empty("the name of the series file"));
  add_layout_options(app, o.input, "", "");
  const std::string group = "Input";
  app.add_option_function<std::string>(
         "--series",
         [&o](const std::string& v) {
           o.input.series.clear();
           if (v != "all") o.input.series = split(v, ',');
         },
         "all, or series numbers (from 1) and names separated by commas (default all)")
      ->check(CLI::Validator(
          [](std::string& text) {
            for (const auto& item : split(text, ','))
              if (item.empty())
                return refusal(text, "holds an empty series name",
                               "all, or series numbers (from 1) and names separated by commas");
            return std::string();
          },
          ""))
      ->type_name("all|N|NAME[,...]")
      ->group(group);
}

// Analysis: the settings of main menu items 1 to 4.
void add_analysis_options(CLI::App& app, Options& o) {
  const std::string group = "Analysis";
  AnalysisOptions& a = o.analysis;
  app.add_option_function<int>(
         "--resolution", [&a](const int& v) { a.resolution = v; },
         "Resolution P in multiples of the Rayleigh frequency (default 2)")
      ->transform(whole_number(from_to(1, 1000000),
                               "a whole number of Rayleigh frequencies from 1 to 1000000"))
      ->type_name("P")
      ->group(group);
  app.add_option_function<int>(
         "--tapers", [&a](const int& v) { a.tapers = v; },
         "Number of tapers K, 1..8 (default 2P-1, so 3)")
      ->transform(whole_number(from_to(1, 8), "a whole number of tapers from 1 to 8"))
      ->type_name("K")
      ->group(group);
  const auto coded = [&app, &group](const std::string& name, std::optional<int>& target,
                                    const CodeMap& codes, const std::string& help) {
    std::string type;
    for (const auto& [word, code] : codes) type += (type.empty() ? "" : "|") + word;
    app.add_option_function<int>(
           name, [&target](const int& v) { target = v; }, help)
        ->type_name(type)
        ->transform(named_codes(codes))
        ->group(group);
  };
  CodeMap samplings;
  for (std::size_t i = 0; i < sampling_names().size(); ++i)
    samplings.emplace_back(sampling_names()[i], static_cast<int>(i));
  app.add_option("--sampling", a.sampling,
                 "Analysis of the spectrum: auto (as the times call for: even, gaps or uneven), "
                 "even (as if evenly spaced, at the mean step), gaps (missing-data multitaper), "
                 "uneven (multitaper Lomb-Scargle) or interpolate (linearly to the median step) "
                 "(default auto)")
      ->transform(named_codes(samplings))
      ->type_name("auto|even|gaps|uneven|interpolate")
      ->group(group);
  coded("--noise", a.noise, {{"red", 0}, {"white", 1}, {"local", 2}},
        "Null hypothesis: red, white or local (locally-white) noise (default red; local with "
        "--signal harmonic)");
  coded("--background", a.background, {{"raw", 0}, {"robust", 1}},
        "Noise background from the raw spectrum or its running median: raw or robust "
        "(default robust)");
  app.add_option_function<float>(
         "--smoothing", [&a](const float& v) { a.smoothing = v; },
         "Median smoothing width in frequency, from the bandwidth to half "
         "the band (default a fifth of the band, at least the bandwidth)")
      ->check(positive_number("a width in frequency above 0, from the bandwidth to half the band"))
      ->type_name("WIDTH")
      ->group(group);
  coded("--fit", a.fit, {{"linear", 0}, {"log", 1}},
        "Red-noise background fit: linear or log misfit (default log)");
  coded("--signal", a.signal, {{"both", 0}, {"narrowband", 1}, {"harmonic", 2}},
        "Signal assumption: both (harmonic or narrowband), narrowband or harmonic (default both)");
  coded("--estimate", a.estimate, {{"hires", 0}, {"adaptive", 1}},
        "Spectrum estimate: adaptive or hires (high-resolution) (default adaptive)");
  coded("--normalize", a.normalize, {{"none", 0}, {"n", 1}, {"dt", 2}},
        "Normalisation: none, n (by N) or dt (by 1/dt) (default none)");
  coded("--reshape", a.reshape,
        {{"off", 0}, {"50", 1}, {"90", 2}, {"95", 3}, {"99", 4}, {"99.5", 5}, {"99.9", 6}},
        "Reshape at lines detected at 50, 90, 95, 99, 99.5 or 99.9 %, or off (default 95)");
  app.add_option_function<std::string>(
         "--band",
         [&a](const std::string& v) { a.band = band_value(v); },
         "Frequency band FMIN:FMAX (default 0 to the Nyquist frequency 0.5/dt)")
      ->check(kBand)
      ->type_name("FMIN:FMAX")
      ->group(group);
}

// Significance: which levels judge the peaks, how many peaks are listed, and
// the refinements of the spectrum behind them.
void add_refinement_options(CLI::App& app, Options& o) {
  const std::string group = "Significance";
  SignificanceOptions& g = o.significance;
  app.add_flag("--median-bias-correction", g.median_bias_correction,
               "Divide the running median by the median-to-mean ratio of the estimate before "
               "the background is fitted, so that the chi-square levels hold (default off)")
      ->group(group);
  app.add_option_function<int>("--concentrations", [&g](const int& v) { g.exact_concentrations = v == 1; },
                               "Taper concentrations: asymptotic (formula) or exact (of the "
                               "computed tapers) (default asymptotic)")
      ->transform(named_codes({{"asymptotic", 0}, {"exact", 1}}))
      ->type_name("asymptotic|exact")
      ->group(group);
  app.add_option("--pad", g.pad,
                 "Transform length the next power of two at or above FACTOR times the series "
                 "length, at least 1024: 1, 2, 4 or 8 (default 1)")
      ->transform(whole_number(
          [](unsigned long long v) { return v == 1 || v == 2 || v == 4 || v == 8; },
          "1, 2, 4 or 8 (the transform is at least FACTOR times the series length)",
          "is not a power of two up to 8"))
      ->type_name("FACTOR")
      ->group(group);
}

namespace {

void add_significance_options(CLI::App& app, Options& o) {
  const std::string group = "Significance";
  SignificanceOptions& g = o.significance;
  add_refinement_options(app, o);
  app.add_option_function<int>("--significance", [&g](const int& v) { g.montecarlo = v == 1; },
                               "Levels of the peaks: chisquare or montecarlo (quantiles of AR(1) "
                               "surrogates) (default chisquare)")
      ->transform(named_codes({{"chisquare", 0}, {"montecarlo", 1}}))
      ->type_name("chisquare|montecarlo")
      ->group(group);
  app.add_option_function<int>("--surrogates",
                               [&g](const int& v) {
                                 g.surrogates = v;
                                 g.surrogates_given = true;
                               },
                               "Surrogate series of --significance montecarlo, at least 19 (with "
                               "fewer no 95 % level can be placed) (default 1000)")
      ->transform(whole_number(
          from_to(api::kFewestSurrogates, api::kMostSurrogates),
          "a whole number of surrogate series from 19 to 100000 (" +
              std::string(api::kFewestSurrogatesReason) + ")"))
      ->type_name("M")
      ->group(group);
  app.add_option_function<std::uint64_t>("--seed",
                                         [&g](const std::uint64_t& v) {
                                           g.seed = v;
                                           g.seed_given = true;
                                         },
                                         "Random seed of --significance montecarlo (default 1); "
                                         "the same seed gives the same files for any --jobs")
      ->transform(whole_number(from_to(0, std::numeric_limits<std::uint64_t>::max()),
                               "a whole number from 0 to 18446744073709551615"))
      ->type_name("S")
      ->group(group);
  app.add_flag("--jackknife", g.jackknife,
               "95 % jackknife interval of the spectrum as two more columns of the spectrum "
               "file (default off)")
      ->group(group);
  app.add_option("--max-peaks", g.max_peaks, "Most peaks listed, 0..100 (default 40)")
      ->transform(whole_number(from_to(0, 100), "a whole number of peaks from 0 to 100"))
      ->type_name("N")
      ->group(group);
}

// Reconstruction: which signals, and the constraint on their envelopes.
void add_recon_options(CLI::App& app, Options& o) {
  const std::string group = "Reconstruction";
  ReconOptions& r = o.recon;
  app.add_option_function<std::string>(
         "--reconstruct",
         [&r](const std::string& v) {
           r.frequencies.clear();
           if (v == "peaks") {
             r.mode = ReconOptions::Mode::Peaks;
           } else if (v == "trend") {
             r.mode = ReconOptions::Mode::Trend;
           } else {
             r.mode = ReconOptions::Mode::Frequencies;
             for (const auto& item : split(v, ',')) {
               float f = 0.0f;
               parse_number(item, f);
               r.frequencies.push_back(f);
             }
           }
         },
         "peaks (every non-trend peak at or above --recon-level), trend, or frequencies "
         "F1,F2,... (default: no reconstruction)")
      ->check(CLI::Validator(
          [](std::string& text) {
            if (text == "peaks" || text == "trend") return std::string();
            const char* expected = "peaks, trend or at most 100 frequencies F1,F2,... of 0 or more";
            const auto items = split(text, ',');
            // The signals list holds 100 entries.
            if (items.size() > 100)
              return refusal(fmt::format("{},...", items[0]),
                             fmt::format("holds {} frequencies", items.size()), expected);
            for (const auto& item : items) {
              float f = 0.0f;
              if (item.empty() && !text.empty())
                return refusal(text, "holds an empty frequency", expected);
              if (!parse_number(item, f) || f < 0.0f)
                return refusal(item, "is not a frequency of 0 or more", expected);
            }
            return std::string();
          },
          ""))
      ->type_name("peaks|trend|F1,F2,...")
      ->group(group);
  app.add_option_function<float>(
         "--recon-level",
         [&r](const float& v) {
           r.level = v;
           r.level_given = true;
         },
         "Least significance in percent of the peaks reconstructed "
         "(with --reconstruct peaks; default 99)")
      ->check(number([](float v) { return v >= 0.0f && v <= 100.0f; }, "is out of range",
                     "a percentage from 0 to 100"))
      ->type_name("PERCENT")
      ->group(group);
  app.add_option_function<int>(
         "--constraint",
         [&r](const int& v) {
           r.constraint = v;
           r.constraint_given = true;
         },
         "Envelope constraint: misfit, norm, slope or rough (least misfit, "
         "norm, slope, roughness; default misfit)")
      ->transform(named_codes({{"misfit", 0}, {"norm", 1}, {"slope", 2}, {"rough", 3}}))
      ->type_name("misfit|norm|slope|rough")
      ->group(group);
}

void add_output_options(CLI::App& app, Options& o) {
  const std::string group = "Output";
  app.add_option("--out", o.output.out,
                 "Folder of the result files, created when missing (default the current folder)")
      ->check(not_empty("the folder of the result files"))
      ->type_name("DIR")
      ->group(group);
  app.add_option("--plots", o.output.plots,
                 "Draw the dialogue's plots to files: none, png, svg or pdf (default none)")
      ->transform(one_of({"none", "png", "svg", "pdf"}))
      ->type_name("none|png|svg|pdf")
      ->group(group);
  app.add_option("--jobs", o.output.jobs,
                 "Series analysed at the same time (default the number of cores)")
      ->transform(whole_number(from_to(1, 1024), "a whole number of jobs from 1 to 1024"))
      ->type_name("N")
      ->group(group);
  app.add_flag("--quiet", o.output.quiet,
               "Nothing on the standard output and no progress line; errors and warnings only")
      ->group(group);
  app.add_flag("--wait", o.output.wait,
               "Wait for another run writing to the same --out folder to end, instead of refusing to start")
      ->group(group);
  app.add_option("--format", o.output.format,
                 "Format of the spectrum file: csv, or netcdf for a NetCDF-4 file "
                 "<series>.spectrum.nc with the same columns as variables on the frequency "
                 "dimension and the settings as attributes; the peaks and reconstruction "
                 "files stay CSV (default csv)")
      ->transform(one_of({"csv", "netcdf"}))
      ->type_name("csv|netcdf")
      ->group(group);
  app.add_option_function<std::string>(
         "--spectrum-band", [&o](const std::string& v) { o.output.spectrum_band = band_of(v); },
         "Write only the spectrum rows of frequencies FMIN to FMAX; the peaks and levels "
         "still come from the whole band (default every row)")
      ->check(kBand)
      ->type_name("FMIN:FMAX")
      ->group(group);
}

}  // namespace

std::string contradiction(const Options& o) {
  const InputOptions& in = o.input;
  const std::string layout = "--layout " + layout_names()[static_cast<std::size_t>(in.layout - 1)];
  const auto only_for = [&](bool given, const std::string& option,
                            std::initializer_list<int> layouts,
                            const std::string& which) -> std::string {
    if (!given) return {};
    for (int l : layouts)
      if (l == in.layout) return {};
    return option + " applies to " + which + " only, not to " + layout;
  };
  for (const std::string& message :
       {only_for(in.skip.has_value(), "--skip", {4, 5, 6, 7, 8},
                 "--layout two, multi, monthly, rows and csv"),
        only_for(in.time_column.has_value(), "--time-column", {8}, "--layout csv"),
        only_for(!in.value_columns.empty(), "--value-columns", {8}, "--layout csv"),
        only_for(in.per_line.has_value(), "--per-line", {6}, "--layout monthly"),
        only_for(in.multiplier.has_value(), "--multiplier", {6}, "--layout monthly"),
        only_for(in.sentinel.has_value(), "--sentinel", {5}, "--layout multi"),
        only_for(in.record_layout.has_value(), "--record-layout", {7}, "--layout rows"),
        only_for(in.columns.has_value(), "--columns", {5, 7}, "--layout multi and rows")}) {
    if (!message.empty()) return message;
  }
  if (in.layout == 5 && !in.columns) return "--layout multi needs --columns (columns including X)";
  if (in.layout == 5 && *in.columns < 2)
    return "--columns must be at least 2 with --layout multi (the X column and one series)";
  if (in.layout == 7 && !in.record_layout) return "--layout rows needs --record-layout";
  if (in.layout == 7 && !in.columns) return "--layout rows needs --columns";

  return api::contradiction(o.analysis, o.significance, o.recon, api::Naming::options);
}

namespace {

const char* kVersion = "quorvane " QUORVANE_VERSION;

// Keeps the first of equal frequencies, in the order given, and returns the
// frequencies that were merged (each once): an equal frequency would add the
// same signal to the reconstruction again, as a second, identical column.
std::vector<float> merge_equal_frequencies(std::vector<float>& frequencies) {
  std::vector<float> kept, merged;
  for (float f : frequencies) {
    if (std::find(kept.begin(), kept.end(), f) == kept.end()) {
      kept.push_back(f);
    } else if (std::find(merged.begin(), merged.end(), f) == merged.end()) {
      merged.push_back(f);
    }
  }
  frequencies = std::move(kept);
  return merged;
}

std::string help_text(const CLI::App& analyse) {
  std::ostringstream text;
  text << kVersion << ": multitaper spectral analysis of time series\n\n"
       << "Usage:\n"
       << "  quorvane                         the interactive dialogue on the console\n"
       << "  quorvane analyse FILE [options]  analyse series of FILE without questions\n"
       << "  quorvane evolve FILE --window W --step S [options]\n"
       << "                                   spectra of a moving window (see quorvane evolve --help)\n"
       << "  quorvane coherence FILE_A [FILE_B] --layout L [options]\n"
       << "                                   coherence and phase of two series (see quorvane coherence --help)\n"
       << "  quorvane --help | --version\n\n"
       << "Each analysis option defaults to what the dialogue starts from for the series.\n"
       << "Exit status: 0 every series analysed, 1 some failed, 2 usage error or the --out folder\n"
       << "in use by another run (see --wait).\n"
       << "Interrupted by SIGINT or SIGTERM: 130 or 143, with the completed files kept.\n\n"
       << analyse.help("quorvane");
  return text.str();
}

}  // namespace

const std::vector<std::string>& sampling_names() {
  static const std::vector<std::string> names = {"auto", "even", "gaps", "uneven", "interpolate"};
  return names;
}

ParseOutcome parse_command_line(const std::vector<std::string>& args, Options& options,
                                std::ostream& out, std::ostream& err) {
  CLI::App app{"Multitaper spectral analysis", "quorvane"};
  app.set_help_flag("-h,--help", "Show every option with its default");
  bool version = false;
  app.add_flag("--version", version, "Show the program version");
  CLI::App* analyse = app.add_subcommand("analyse", "Analyse series of FILE without questions");
  analyse->set_help_flag("-h,--help", "Show every option with its default");
  analyse->get_formatter()->column_width(34);
  add_input_options(*analyse, options);
  add_analysis_options(*analyse, options);
  add_significance_options(*analyse, options);
  add_recon_options(*analyse, options);
  add_output_options(*analyse, options);
  wrap_descriptions(*analyse);

  if (!args.empty() && !args[0].empty() && args[0][0] != '-' && args[0] != "analyse") {
    err << "quorvane: unknown command '" << args[0] << "': the commands are analyse, evolve and coherence\n"
        << "Run 'quorvane --help' for the options.\n";
    return {false, 2};
  }
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << help_text(*analyse);
    return {false, 0};
  } catch (const CLI::ParseError& error) {
    err << "quorvane: " << error.what() << "\n"
        << "Run 'quorvane --help' for the options.\n";
    return {false, 2};
  }
  if (version) {
    out << kVersion << "\n";
    return {false, 0};
  }
  if (!analyse->parsed()) {
    err << "quorvane: give the command analyse, or no arguments for the dialogue\n"
        << "Run 'quorvane --help' for the options.\n";
    return {false, 2};
  }
  if (std::string message = contradiction(options); !message.empty()) {
    err << "quorvane: " << message << "\nRun 'quorvane --help' for the options.\n";
    return {false, 2};
  }
  for (float f : merge_equal_frequencies(options.recon.frequencies))
    err << "quorvane: warning: --reconstruct gives the frequency " << api::number_text(f)
        << " more than once; its signal is reconstructed once\n";
  return {true, 0};
}

}  // namespace quorvane::cli
