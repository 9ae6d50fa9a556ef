#include "api/vocabulary.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "input/layouts.h"
#include "quorvane/spectrum.h"

namespace quorvane::api {

namespace {

// Every refusal says what is wrong with the value and what the option
// accepts; the parser puts the option's name in front.
std::string refusal(const std::string& text, const std::string& problem,
                    const std::string& expected) {
  if (text.empty()) return fmt::format("the value is empty; expected {}", expected);
  return fmt::format("'{}' {}; expected {}", text, problem, expected);
}

// How the text of a number reads, written in full (no trailing characters).
enum class Reading { number, not_number, not_finite, out_of_range };

template <class T>
Reading reading(std::string_view view, T& value) {
  const std::string text(view);
  std::size_t used = 0;
  try {
    if constexpr (std::is_same_v<T, float>)
      value = std::stof(text, &used);
    else
      value = std::stod(text, &used);
  } catch (const std::out_of_range&) {
    return Reading::out_of_range;
  } catch (const std::exception&) {
    return Reading::not_number;
  }
  if (used != text.size()) return Reading::not_number;
  return std::isfinite(value) ? Reading::number : Reading::not_finite;
}

float single(const std::string& text) {
  float value = 0.0f;
  reading(text, value);
  return value;
}

// A finite number for which `accepted` holds.
TextCheck number_check(std::function<bool(float)> accepted, std::string refused,
                       std::string expected) {
  return [accepted, refused, expected](std::string& text) {
    float value = 0.0f;
    switch (reading(text, value)) {
      case Reading::not_number: return refusal(text, "is not a number", expected);
      case Reading::not_finite: return refusal(text, "is not a finite number", expected);
      case Reading::out_of_range: return refusal(text, "is out of range", expected);
      case Reading::number: break;
    }
    return accepted(value) ? std::string() : refusal(text, refused, expected);
  };
}

// A whole number for which `accepted` holds, rewritten as a plain decimal,
// so that the parser, which reads whole numbers in C's notation, takes 010
// as ten and not as octal eight.
TextCheck whole_check(std::function<bool(unsigned long long)> accepted, std::string expected,
                      std::string refused = "is out of range") {
  return [accepted, expected, refused](std::string& text) {
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
  };
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string listed(const std::vector<std::string>& words, const char* separator = ", ") {
  std::string list;
  for (const auto& word : words) list += (list.empty() ? "" : separator) + word;
  return list;
}

// One of `words` in any letter case, rewritten as its code: its position
// plus `first`. The refusal lists the words unless `expected` says otherwise.
TextCheck word_check(std::vector<std::string> words, std::string expected, int first = 0) {
  if (expected.empty()) expected = "one of " + listed(words);
  return [words, expected, first](std::string& text) {
    const auto found = std::find(words.begin(), words.end(), lower(text));
    if (found == words.end()) {
      if (text.empty()) return refusal(text, "", expected);
      // "'pink' is not one of red, white, local"
      return fmt::format("'{}' is not {}", text, expected);
    }
    text = std::to_string(found - words.begin() + first);
    return std::string();
  };
}

TextCheck not_empty(std::string expected) {
  return [expected](std::string& text) {
    return text.empty() ? refusal(text, "", expected) : std::string();
  };
}

// Names separated by commas, none of them empty.
TextCheck list_check(std::string problem, std::string expected) {
  return [problem, expected](std::string& text) {
    for (const auto& item : split(text, ','))
      if (item.empty()) return refusal(text, problem, expected);
    return std::string();
  };
}

const TextCheck kBand = [](std::string& text) {
  float fmin = 0.0f, fmax = 0.0f;
  if (!read_band(text, fmin, fmax) || fmin < 0.0f || fmax <= fmin)
    return refusal(text, "is not a frequency band",
                   "FMIN:FMAX, two frequencies with 0 <= FMIN < FMAX");
  return std::string();
};

long long whole_of(const Value& v) { return std::get<long long>(v); }
int int_of(const Value& v) { return static_cast<int>(std::get<long long>(v)); }
float float_of(const Value& v) { return static_cast<float>(std::get<double>(v)); }
bool given(const Value& v) { return !std::holds_alternative<std::monostate>(v); }
std::pair<float, float> pair_of(const Value& v) {
  const Band& b = std::get<Band>(v);
  return {static_cast<float>(b.low), static_cast<float>(b.high)};
}

// The store of a word option into its setting: the word's place in the
// list is the enumeration's value.
template <class E, std::optional<E> AnalysisOptions::*member>
void store_code(const Value& v, RunOptions& o, InputOptions&) {
  o.analysis.*member = static_cast<E>(int_of(v));
}

// The keyword of an enumeration whose values are the codes of its words.
template <class E, E Settings::*member>
Keyword enum_keyword(std::string doc, bool coherence = false) {
  Keyword k;
  k.type = SettingType::word;
  k.doc = std::move(doc);
  k.coherence = coherence;
  k.get = [](const Settings& s) { return Value(static_cast<long long>(s.*member)); };
  k.set = [](Settings& s, const Value& v) { s.*member = static_cast<E>(whole_of(v)); };
  return k;
}

template <class T, T Settings::*member>
Keyword plain_keyword(SettingType type, std::string doc, bool coherence = false) {
  Keyword k;
  k.type = type;
  k.doc = std::move(doc);
  k.coherence = coherence;
  k.get = [](const Settings& s) {
    if constexpr (std::is_same_v<T, int>) return Value(static_cast<long long>(s.*member));
    else return Value(s.*member);
  };
  k.set = [](Settings& s, const Value& v) {
    if constexpr (std::is_same_v<T, int>) s.*member = int_of(v);
    else s.*member = std::get<T>(v);
  };
  return k;
}

template <class T, std::optional<T> Settings::*member>
Keyword optional_keyword(SettingType type, std::string doc, bool coherence = false) {
  Keyword k;
  k.type = type;
  k.doc = std::move(doc);
  k.coherence = coherence;
  k.get = [](const Settings& s) {
    if (!(s.*member)) return Value();
    if constexpr (std::is_same_v<T, int>) return Value(static_cast<long long>(*(s.*member)));
    else return Value(*(s.*member));
  };
  k.set = [](Settings& s, const Value& v) {
    if (!given(v)) s.*member = std::nullopt;
    else if constexpr (std::is_same_v<T, int>) s.*member = int_of(v);
    else s.*member = std::get<T>(v);
  };
  return k;
}

const char* kOutputFolderHelp =
    "Folder of the result files, created when missing (default the current folder)";

Vocabulary make_vocabulary() {
  Vocabulary t;
  const auto add = [&t](OptionSpec spec) { t.push_back(std::move(spec)); };

  // Input: the files, the layout and the answers the dialogue asks for it.
  {
    OptionSpec s("FILE", Kind::positional, "");
    s.required = true;
    s.check = not_empty("the name of the series file");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.input.file = std::get<std::string>(v); };
    s.uses = {{kAnalyse | kEvolve, "", "The series file"},
              {kEnsemble, "", "The file of the record's values; its time column holds the depth (or sample number), or the counted ages for --age-model counted"}};
    add(std::move(s));
  }
  {
    OptionSpec s("FILE_A", Kind::positional, "");
    s.required = true;
    s.check = not_empty("the name of the file of series A");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.input.file = std::get<std::string>(v); };
    s.uses = {{kCoherence, "", "The file of series A (and of B without FILE_B)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("FILE_B", Kind::positional, "");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.pair.second.file = std::get<std::string>(v);
    };
    s.uses = {{kCoherence, "", "The file of series B (default FILE_A)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("layout", Kind::text, "LAYOUT");
    s.required = true;
    s.layout = true;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < input::layout_names().size(); ++i) words.push_back(input::layout_names()[i]);
    const std::vector<std::string> names = words;
    for (std::size_t i = 0; i < names.size(); ++i) words.push_back(std::to_string(i + 1));
    const TextCheck code = word_check(
        words, "one of rwl, crn, single, two, multi, monthly, rows, csv or their codes 1 to 8", 1);
    // The codes 1 to 8 name the layouts as their names do.
    s.check = [code, count = names.size()](std::string& text) {
      std::string message = code(text);
      if (message.empty()) text = std::to_string((std::stoul(text) - 1) % count + 1);
      return message;
    };
    s.read = [](const std::string& text) { return Value(std::stoll(text)); };
    s.store = [](const Value& v, RunOptions&, InputOptions& in) { in.layout = int_of(v); };
    s.uses = {{kEveryCommand, "Input",
               "Layout of FILE, 1..8 or rwl (raw ring widths, decade lines), crn "
               "(chronology), single, two, multi (columns), monthly, rows, csv (required)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("skip", Kind::whole, "N");
    s.layout = true;
    s.layouts = {4, 5, 6, 7, 8};
    s.which = "two, multi, monthly, rows and csv";
    s.low = 0;
    s.high = 1000000;
    s.noun = "lines";
    s.store = [](const Value& v, RunOptions&, InputOptions& in) { in.skip = int_of(v); };
    s.answered = [](const InputOptions& in) { return in.skip.has_value(); };
    s.uses = {{kEveryCommand, "Input",
               "Lines to skip at the top (two, multi, monthly, rows, csv; default 0)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("per-line", Kind::whole, "N");
    s.layout = true;
    s.layouts = {6};
    s.which = "monthly";
    s.low = 1;
    s.high = 99;
    s.noun = "values";
    s.store = [](const Value& v, RunOptions&, InputOptions& in) { in.per_line = int_of(v); };
    s.answered = [](const InputOptions& in) { return in.per_line.has_value(); };
    s.uses = {{kEveryCommand, "Input", "Values per line (monthly; default 12)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("multiplier", Kind::number, "X");
    s.layout = true;
    s.layouts = {6};
    s.which = "monthly";
    s.check = number_check([](float) { return true; }, "",
                           "a finite number, the factor to the values' units");
    s.store = [](const Value& v, RunOptions&, InputOptions& in) { in.multiplier = float_of(v); };
    s.answered = [](const InputOptions& in) { return in.multiplier.has_value(); };
    s.uses = {{kEveryCommand, "Input",
               "Factor that brings the values to their units (monthly; default 1.0)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("sentinel", Kind::text, "TEXT");
    s.layout = true;
    s.layouts = {5};
    s.which = "multi";
    s.check = not_empty("the marker of a missing cell, such as *");
    s.store = [](const Value& v, RunOptions&, InputOptions& in) { in.sentinel = std::get<std::string>(v); };
    s.answered = [](const InputOptions& in) { return in.sentinel.has_value(); };
    s.uses = {{kEveryCommand, "Input",
               "Marker of a missing cell, * for a field of asterisks (multi; default *)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("record-layout", Kind::text, "LAYOUT");
    s.layout = true;
    s.layouts = {7};
    s.which = "rows";
    s.check = not_empty("the layout of one line in parentheses, such as (1x,i4,12f7.2)");
    s.store = [](const Value& v, RunOptions&, InputOptions& in) {
      in.record_layout = std::get<std::string>(v);
    };
    s.answered = [](const InputOptions& in) { return in.record_layout.has_value(); };
    s.uses = {{kEveryCommand, "Input",
               "Layout of one line in parentheses, such as '(1x,i4,12f7.2)' (rows; required there)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("columns", Kind::whole, "N");
    s.layout = true;
    s.layouts = {5, 7};
    s.which = "multi and rows";
    s.low = 1;
    s.high = 100000;
    s.noun = "columns";
    s.store = [](const Value& v, RunOptions&, InputOptions& in) { in.columns = int_of(v); };
    s.answered = [](const InputOptions& in) { return in.columns.has_value(); };
    s.uses = {{kEveryCommand, "Input",
               "Columns including X (multi) or values read per line (rows); required for both"}};
    add(std::move(s));
  }
  {
    OptionSpec s("time-column", Kind::text, "NAME");
    s.layout = true;
    s.layouts = {8};
    s.which = "csv";
    s.check = not_empty("the header of the time column");
    s.store = [](const Value& v, RunOptions&, InputOptions& in) { in.time_column = std::get<std::string>(v); };
    s.answered = [](const InputOptions& in) { return in.time_column.has_value(); };
    s.uses = {{kEveryCommand, "Input", "Header of the time column (csv; default the first column)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("value-columns", Kind::text, "NAME[,...]");
    s.layout = true;
    s.layouts = {8};
    s.which = "csv";
    s.check = list_check("holds an empty column name",
                         "the headers of the series' columns separated by commas");
    s.empty_item = "a column name is empty";
    s.store = [](const Value& v, RunOptions&, InputOptions& in) {
      in.value_columns = split(std::get<std::string>(v), ',');
    };
    s.answered = [](const InputOptions& in) { return !in.value_columns.empty(); };
    s.uses = {{kEveryCommand, "Input",
               "Headers of the series' columns, separated by commas (csv; default every other "
               "numeric column)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("series", Kind::text, "all|N|NAME[,...]");
    s.check = list_check("holds an empty series name",
                         "all, or series numbers (from 1) and names separated by commas");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      const std::string& text = std::get<std::string>(v);
      o.input.series.clear();
      if (text != "all") o.input.series = split(text, ',');
    };
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Input",
               "all, or series numbers (from 1) and names separated by commas (default all)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("series-a", Kind::text, "N|NAME");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.pair.series_a = std::get<std::string>(v); };
    s.uses = {{kCoherence, "Input", "Series A: its number (from 1) or name in FILE_A (default 1)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("series-b", Kind::text, "N|NAME");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.pair.series_b = std::get<std::string>(v); };
    s.uses = {{kCoherence, "Input",
               "Series B: its number or name (default 2 of FILE_A, or 1 of FILE_B)"}};
    add(std::move(s));
  }

  {
    OptionSpec s("common-step", Kind::number, "D");
    s.check = number_check([](float v) { return v > 0.0f; }, "is not a positive number",
                           "a step above 0 in the series' time units");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.pair.common_step = float_of(v); };
    s.uses = {{kCoherence, "Analysis",
               "With --sampling interpolate, the step both series are interpolated to "
               "(default the coarser of their median steps)"}};
    add(std::move(s));
  }

  // Windows: the moving window of evolve.
  {
    OptionSpec s("window", Kind::number, "W");
    s.required = true;
    s.check = number_check([](float v) { return v > 0.0f; }, "is not a positive number",
                           "a window length above 0 in the series' time units");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.windows.window = float_of(v); };
    s.uses = {{kEvolve, "Windows",
               "Window length W in the series' time units (years for a yearly series); a "
               "window holds round(W / dt) values, at least twice the tapers (required)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("step", Kind::number, "S");
    s.required = true;
    s.check = number_check([](float v) { return v > 0.0f; }, "is not a positive number",
                           "a step above 0 in the series' time units");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.windows.step = float_of(v); };
    s.uses = {{kEvolve, "Windows",
               "How far each window moves on, S in time units: round(S / dt) values, at "
               "least one (required)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("min-samples", Kind::whole, "N");
    s.low = 1;
    s.high = 1000000;
    s.noun = "samples";
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.windows.min_samples = int_of(v);
    };
    s.uses = {{kEvolve, "Windows",
               "On a record with gaps or uneven steps, the fewest samples a window is analysed "
               "with, {low}..{high}; windows with fewer, or with more than half their steps "
               "empty, are left empty (default 2K+2, at least 10)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("show", Kind::words, "power|ratio");
    s.words = {"power", "ratio"};
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.windows.show_ratio = whole_of(v) == 1; };
    s.uses = {{kEvolve, "Windows",
               "The heat map's values: power (log10 of the spectrum) or ratio (log10 of the "
               "spectrum over its background) (default power)"}};
    add(std::move(s));
  }

  // Age model: the chronologies of ensemble, read or generated.
  {
    OptionSpec s("ensemble", Kind::text, "FILE");
    s.check = not_empty("the name of the age ensemble file");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.ensemble.file = std::get<std::string>(v); };
    s.uses = {{kEnsemble, "Age model",
               "CSV of the age ensemble: first column the depth (or sample number), one column of "
               "ages per member; matched to the values by depth, or by row when the depths differ "
               "and the counts agree"}};
    add(std::move(s));
  }
  {
    OptionSpec s("age-model", Kind::words, "counted|tiepoints");
    s.words = {"counted", "tiepoints"};
    s.read = [words = s.words](const std::string& code) { return Value(words[std::stoul(code)]); };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.ensemble.model = std::get<std::string>(v); };
    s.uses = {{kEnsemble, "Age model",
               "Generate the members instead: counted (the values' times are a layer count, "
               "perturbed by --miscount) or tiepoints (ages drawn at the tie points of "
               "--tiepoints, sorted, and interpolated linearly in depth)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("miscount", Kind::number, "P");
    s.check = number_check([](float v) { return v >= 0.0f && v <= 1.0f; }, "is out of range",
                           "a probability from 0 to 1");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.ensemble.miscount = std::get<double>(v); };
    s.uses = {{kEnsemble, "Age model",
               "counted: the probability of a missed and, independently, of a doubled layer (one "
               "unit of age) at each step between samples (default 0.05)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("tiepoints", Kind::text, "FILE");
    s.check = not_empty("the name of the tie-point file");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.ensemble.tiepoints = std::get<std::string>(v); };
    s.uses = {{kEnsemble, "Age model",
               "tiepoints: CSV of the tie points, one a line: depth, age, 1-sigma error of the age"}};
    add(std::move(s));
  }
  {
    OptionSpec s("members", Kind::whole, "N");
    s.low = 1;
    s.high = 100000;
    s.noun = "members";
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.ensemble.members = int_of(v); };
    s.uses = {{kEnsemble, "Age model",
               "Members of a generated age model, {low}..{high} (default 1000)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("agreement", Kind::number, "FRACTION");
    s.check = number_check([](float v) { return v > 0.0f && v <= 1.0f; }, "is out of range",
                           "a fraction above 0 and at most 1");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.ensemble.agreement = std::get<double>(v); };
    s.uses = {{kEnsemble, "Age model",
               "List a line in the peaks file when the F-test finds it (at the --reshape level) in "
               "at least this fraction of the members (default 0.5)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("members-out", Kind::flag, "");
    s.flag = [](RunOptions& o) -> bool& { return o.ensemble.members_out; };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.ensemble.members_out = std::get<bool>(v); };
    s.uses = {{kEnsemble, "Output",
               "With --format netcdf, every member's estimate, background and F statistic on a "
               "member dimension too (default off)"}};
    add(std::move(s));
  }

  // Analysis: the settings of main menu items 1 to 4.
  {
    OptionSpec s("resolution", Kind::whole, "P");
    s.low = 1;
    s.high = 1000000;
    s.noun = "Rayleigh frequencies";
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.analysis.resolution = int_of(v); };
    s.uses = {{kEveryCommand, "Analysis",
               "Resolution P in multiples of the Rayleigh frequency (default 2)"}};
    s.keyword = plain_keyword<int, &Settings::resolution>(SettingType::integer, "P", true);
    add(std::move(s));
  }
  {
    OptionSpec s("tapers", Kind::whole, "K");
    s.low = 1;
    s.high = kMostTapers;
    s.noun = "tapers";
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.analysis.tapers = int_of(v); };
    // The coherence's jackknife intervals need two tapers at least.
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis", "Number of tapers K, {low}..{high} (default 2P-1, so 3)"},
              {kCoherence, "Analysis", "Number of tapers K, {low}..{high} (default 2P-1, so 3)", 2}};
    s.keyword = optional_keyword<int, &Settings::tapers>(
        SettingType::integer, "2P-1 up to {high}, {low}..{high}", true);
    add(std::move(s));
  }
  {
    OptionSpec s("sampling", Kind::words, "auto|even|gaps|uneven|interpolate");
    s.words = {"auto", "even", "gaps", "uneven", "interpolate"};
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.analysis.sampling = int_of(v); };
    s.uses = {{kAnalyse | kEvolve, "Analysis",
               "Analysis of the spectrum: auto (as the times call for: even, gaps or uneven), "
               "even (as if evenly spaced, at the mean step), gaps (missing-data multitaper), "
               "uneven (multitaper Lomb-Scargle) or interpolate (linearly to the median step) "
               "(default auto)"},
              {kCoherence, "Analysis",
               "Analysis of the pair: auto (on one grid when both are evenly spaced on it, "
               "else each on its own times) or interpolate (both linearly to --common-step, "
               "which lowers the coherence at high frequencies) (default auto)",
               {}, {}, {}, {}, "auto|interpolate"}};
    s.keyword = enum_keyword<Sampling, &Settings::sampling>("{words}", true);
    add(std::move(s));
  }
  {
    OptionSpec s("noise", Kind::words, "red|white|local");
    s.words = {"red", "white", "local"};
    s.store = store_code<Noise, &AnalysisOptions::noise>;
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis",
               "Null hypothesis: red, white or local (locally-white) noise (default red; local with "
               "--signal harmonic)"}};
    s.keyword = enum_keyword<Noise, &Settings::noise>("{words}; local with signal='harmonic'");
    add(std::move(s));
  }
  {
    OptionSpec s("background", Kind::words, "raw|robust");
    s.words = {"raw", "robust"};
    s.store = store_code<Background, &AnalysisOptions::background>;
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis",
               "Noise background from the raw spectrum or its running median: raw or robust "
               "(default robust)"}};
    s.keyword = enum_keyword<Background, &Settings::background>("{words}");
    add(std::move(s));
  }
  {
    OptionSpec s("smoothing", Kind::number, "WIDTH");
    s.check = number_check([](float v) { return v > 0.0f; }, "is not a positive number",
                           "a width in frequency above 0, from the bandwidth to half the band");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.analysis.smoothing = float_of(v); };
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis",
               "Median smoothing width in frequency, from the bandwidth to half "
               "the band (default a fifth of the band, at least the bandwidth)"}};
    s.keyword = optional_keyword<double, &Settings::smoothing>(
        SettingType::number, "width in frequency; a fifth of the band, at least the bandwidth");
    s.keyword->refuse = [](const Value& v) {
      const double width = std::get<double>(v);
      if (width > 0.0 && std::isfinite(width)) return std::string();
      return fmt::format("smoothing must be a positive number, not {}", width);
    };
    add(std::move(s));
  }
  {
    OptionSpec s("fit", Kind::words, "linear|log");
    s.words = {"linear", "log"};
    s.store = store_code<Fit, &AnalysisOptions::fit>;
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis",
               "Red-noise background fit: linear or log misfit (default log)"}};
    s.keyword = enum_keyword<Fit, &Settings::fit>("{words}");
    add(std::move(s));
  }
  {
    OptionSpec s("signal", Kind::words, "both|narrowband|harmonic");
    s.words = {"both", "narrowband", "harmonic"};
    s.store = store_code<Signal, &AnalysisOptions::signal>;
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis",
               "Signal assumption: both (harmonic or narrowband), narrowband or harmonic (default both)"}};
    s.keyword = enum_keyword<Signal, &Settings::signal>("{words}");
    add(std::move(s));
  }
  {
    // The words in the order the help gives them, which is not the
    // enumeration's.
    OptionSpec s("estimate", Kind::words, "hires|adaptive");
    s.words = {"hires", "adaptive"};
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.analysis.estimate = int_of(v) == 1 ? Estimate::adaptive : Estimate::hires;
    };
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis",
               "Spectrum estimate: adaptive or hires (high-resolution) (default adaptive)"},
              {kCoherence, "Analysis",
               "hires (equal weights of the K eigen-cross-spectra) or adaptive (each series' "
               "adaptive weights; Monte Carlo levels) (default hires)"}};
    Keyword k;
    k.type = SettingType::word;
    k.doc = "{words}";
    k.coherence = true;
    k.get = [](const Settings& s) { return Value(s.estimate == Estimate::adaptive ? 1LL : 0LL); };
    k.set = [](Settings& s, const Value& v) {
      s.estimate = whole_of(v) == 1 ? Estimate::adaptive : Estimate::hires;
    };
    s.keyword = std::move(k);
    add(std::move(s));
  }
  {
    OptionSpec s("normalize", Kind::words, "none|n|dt|density");
    s.words = {"none", "n", "dt", "density"};
    s.store = store_code<Normalize, &AnalysisOptions::normalize>;
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis",
               "Scale: none, n (estimate / N^2), dt (estimate * dt^2) or density (one-sided "
               "density, integrating to the variance) (default none)"}};
    s.keyword = enum_keyword<Normalize, &Settings::normalize>(
        "{words}: none as transformed (white noise of variance v near N v), n divided by "
        "N^2, dt multiplied by dt^2, density the one-sided density in value^2 per unit of "
        "frequency (times 2 dt / N), whose integral to the Nyquist frequency is the variance");
    add(std::move(s));
  }
  {
    // Codes 1..6 are the levels' isiglev, 0 no reshaping.
    OptionSpec s("reshape", Kind::words, "off|50|90|95|99|99.5|99.9");
    s.words.push_back("off");
    for (double percent : kFLevelPercents) s.words.push_back(fmt::format("{:g}", percent));
    s.read = [](const std::string& code) {
      const long long k = std::stoll(code);
      return Value(k == 0 ? 0.0 : kFLevelPercents[static_cast<std::size_t>(k - 1)]);
    };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      const double percent = std::get<double>(v);
      const auto* found = std::find(kFLevelPercents.begin(), kFLevelPercents.end(), percent);
      o.analysis.reshape = found == kFLevelPercents.end() ? 0 : static_cast<int>(found - kFLevelPercents.begin()) + 1;
    };
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis",
               "Reshape at lines detected at 50, 90, 95, 99, 99.5 or 99.9 %, or off (default 95)"}};
    s.keyword = plain_keyword<double, &Settings::reshape>(SettingType::level,
                                                          "50, 90, 95, 99, 99.5, 99.9 or 'off'");
    s.keyword->refuse = [](const Value& v) {
      const double percent = std::get<double>(v);
      if (percent == 0.0 || std::find(kFLevelPercents.begin(), kFLevelPercents.end(), percent) !=
                                kFLevelPercents.end())
        return std::string();
      return fmt::format(
          "reshape must be 50, 90, 95, 99, 99.5 or 99.9 (percent), or 0 for off, not {}", percent);
    };
    add(std::move(s));
  }
  {
    OptionSpec s("band", Kind::band, "FMIN:FMAX");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.analysis.band = pair_of(v); };
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Analysis",
               "Frequency band FMIN:FMAX (default 0 to the Nyquist frequency 0.5/dt)"},
              {kCoherence, "Analysis",
               "Frequency band FMIN:FMAX (default 0 to the Nyquist frequency 0.5/dt)", {}, "", "",
               "pad"}};
    s.keyword = optional_keyword<Band, &Settings::band>(
        SettingType::band, "(low, high) or 'LOW:HIGH'; 0 to the Nyquist frequency", true);
    s.keyword->refuse = [](const Value& v) {
      const auto [low, high] = std::get<Band>(v);
      if (std::isfinite(low) && std::isfinite(high) && low >= 0.0 && high > low) return std::string();
      return fmt::format("band ({}, {}) needs 0 <= low < high", low, high);
    };
    add(std::move(s));
  }

  // Significance: which levels judge the peaks, how many peaks are listed,
  // and the refinements of the spectrum behind them.
  {
    OptionSpec s("median-bias-correction", Kind::flag, "");
    s.flag = [](RunOptions& o) -> bool& { return o.significance.median_bias_correction; };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.significance.median_bias_correction = std::get<bool>(v);
    };
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Significance",
               "Divide the running median by the median-to-mean ratio of the estimate before "
               "the background is fitted, so that the chi-square levels hold (default off)"}};
    s.keyword = plain_keyword<bool, &Settings::median_bias_correction>(SettingType::flag, "");
    add(std::move(s));
  }
  {
    OptionSpec s("concentrations", Kind::words, "asymptotic|exact");
    s.words = {"asymptotic", "exact"};
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.significance.exact_concentrations = whole_of(v) == 1;
    };
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Significance",
               "Taper concentrations: asymptotic (formula) or exact (of the "
               "computed tapers) (default asymptotic)"},
              {kCoherence, "Analysis",
               "Taper concentrations of the adaptive weights: asymptotic or exact (default "
               "asymptotic)"}};
    s.keyword = enum_keyword<Concentrations, &Settings::concentrations>("{words}", true);
    add(std::move(s));
  }
  {
    OptionSpec s("pad", Kind::whole, "FACTOR");
    s.low = 1;
    s.high = 8;
    s.accepted = [](unsigned long long v) { return v == 1 || v == 2 || v == 4 || v == 8; };
    s.refused = "is not a power of two up to 8";
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.significance.pad = int_of(v); };
    s.uses = {{kAnalyse | kEvolve | kEnsemble, "Significance",
               "Transform length the next power of two at or above FACTOR times the series "
               "length, at least 1024: 1, 2, 4 or 8 (default 1)",
               {}, "", "1, 2, 4 or 8 (the transform is at least FACTOR times the series length)"},
              {kCoherence, "Analysis",
               "Transform length the next power of two at or above FACTOR times the "
               "length, at least 1024: 1, 2, 4 or 8 (default 1)",
               {}, "", "1, 2, 4 or 8 (the transform is at least FACTOR times the length)",
               "estimate"}};
    s.keyword = plain_keyword<int, &Settings::pad>(SettingType::integer, "1, 2, 4, 8", true);
    s.keyword->refuse = [](const Value& v) {
      const long long pad = whole_of(v);
      if (pad == 1 || pad == 2 || pad == 4 || pad == 8) return std::string();
      return fmt::format("pad must be 1, 2, 4 or 8, not {}", pad);
    };
    add(std::move(s));
  }
  {
    OptionSpec s("significance", Kind::words, "chisquare|montecarlo");
    s.words = {"chisquare", "montecarlo"};
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.significance.montecarlo = whole_of(v) == 1;
      o.significance.montecarlo_given = true;
    };
    s.uses = {{kAnalyse, "Significance",
               "Levels of the peaks: chisquare or montecarlo (quantiles of AR(1) "
               "surrogates) (default chisquare)"},
              {kCoherence, "Significance",
               "Coherence levels: chisquare (analytic, equal weights) or montecarlo (quantiles of "
               "independent AR(1) surrogate pairs) (default chisquare; montecarlo for adaptive)"}};
    s.keyword = enum_keyword<Significance, &Settings::significance>("{words}", true);
    add(std::move(s));
  }
  {
    OptionSpec s("surrogates", Kind::whole, "M");
    s.low = kFewestSurrogates;
    s.high = kMostSurrogates;
    s.noun = "surrogate series";
    s.expected_note = " (" + std::string(kFewestSurrogatesReason) + ")";
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.significance.surrogates = int_of(v);
      o.significance.surrogates_given = true;
    };
    s.uses = {{kAnalyse, "Significance",
               "Surrogate series of --significance montecarlo, at least {low} (with "
               "fewer no 95 % level can be placed) (default 1000)"},
              {kCoherence, "Significance",
               "Surrogate pairs of the Monte Carlo levels, at least {low} (with fewer no 95 % level "
               "can be placed) (default 1000)",
               {}, "surrogate pairs"}};
    s.keyword = plain_keyword<int, &Settings::surrogates>(SettingType::integer, "", true);
    s.keyword->refusal_note = kFewestSurrogatesReason;
    add(std::move(s));
  }
  {
    OptionSpec s("seed", Kind::whole, "S");
    s.low = 0;
    s.high = std::numeric_limits<std::uint64_t>::max();
    s.read = [](const std::string& text) { return Value(static_cast<std::uint64_t>(std::stoull(text))); };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.significance.seed = std::get<std::uint64_t>(v);
      o.significance.seed_given = true;
    };
    s.uses = {{kAnalyse, "Significance",
               "Random seed of --significance montecarlo (default 1); "
               "the same seed gives the same files for any --jobs"},
              {kCoherence, "Significance",
               "Random seed of the Monte Carlo levels (default 1); the same for any --jobs"},
              {kEnsemble, "Age model", "Random seed of the generated age model (default 1); the same seed gives the same members"}};
    s.keyword = plain_keyword<std::uint64_t, &Settings::seed>(SettingType::seed, "", true);
    add(std::move(s));
  }
  {
    OptionSpec s("jackknife", Kind::flag, "");
    s.flag = [](RunOptions& o) -> bool& { return o.significance.jackknife; };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.significance.jackknife = std::get<bool>(v); };
    s.uses = {{kAnalyse, "Significance",
               "95 % jackknife interval of the spectrum as two more columns of the spectrum "
               "file (default off)"}};
    s.keyword = plain_keyword<bool, &Settings::jackknife>(SettingType::flag, "");
    add(std::move(s));
  }
  {
    OptionSpec s("max-peaks", Kind::whole, "N");
    s.low = 0;
    s.high = 100;
    s.noun = "peaks";
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.significance.max_peaks = int_of(v); };
    s.uses = {{kAnalyse, "Significance", "Most peaks listed, {low}..{high} (default 40)"}};
    s.keyword = plain_keyword<int, &Settings::max_peaks>(SettingType::integer, "{low}..{high}");
    add(std::move(s));
  }

  // Reconstruction: which signals, and the constraint on their envelopes.
  {
    OptionSpec s("reconstruct", Kind::text, "peaks|trend|F1,F2,...");
    s.check = [](std::string& text) {
      if (text == "peaks" || text == "trend") return std::string();
      const char* expected = "peaks, trend or at most 100 frequencies F1,F2,... of 0 or more";
      const auto items = split(text, ',');
      // The signals list holds 100 entries.
      if (items.size() > static_cast<std::size_t>(nsigmax))
        return refusal(fmt::format("{},...", items[0]),
                       fmt::format("holds {} frequencies", items.size()), expected);
      for (const auto& item : items) {
        float f = 0.0f;
        if (item.empty() && !text.empty()) return refusal(text, "holds an empty frequency", expected);
        if (reading(item, f) != Reading::number || f < 0.0f)
          return refusal(item, "is not a frequency of 0 or more", expected);
      }
      return std::string();
    };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      const std::string& text = std::get<std::string>(v);
      ReconOptions& r = o.recon;
      r.frequencies.clear();
      if (text == "peaks") {
        r.mode = ReconOptions::Mode::Peaks;
      } else if (text == "trend") {
        r.mode = ReconOptions::Mode::Trend;
      } else {
        r.mode = ReconOptions::Mode::Frequencies;
        for (const auto& item : split(text, ',')) r.frequencies.push_back(single(item));
      }
    };
    s.uses = {{kAnalyse, "Reconstruction",
               "peaks (every non-trend peak at or above --recon-level), trend, or frequencies "
               "F1,F2,... (default: no reconstruction)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("recon-level", Kind::number, "PERCENT");
    s.check = number_check([](float v) { return v >= 0.0f && v <= 100.0f; }, "is out of range",
                           "a percentage from 0 to 100");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.recon.level = float_of(v);
      o.recon.level_given = true;
    };
    s.uses = {{kAnalyse, "Reconstruction",
               "Least significance in percent of the peaks reconstructed "
               "(with --reconstruct peaks; default 99)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("constraint", Kind::words, "misfit|norm|slope|rough");
    s.words = {"misfit", "norm", "slope", "rough"};
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.recon.constraint = int_of(v);
      o.recon.constraint_given = true;
    };
    s.uses = {{kAnalyse, "Reconstruction",
               "Envelope constraint: misfit, norm, slope or rough (least misfit, "
               "norm, slope, roughness; default misfit)"}};
    add(std::move(s));
  }

  // Output: where the files go and what else the run shows.
  {
    OptionSpec s("out", Kind::text, "DIR");
    s.check = not_empty("the folder of the result files");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.output.out = std::get<std::string>(v); };
    s.uses = {{kEveryCommand, "Output", kOutputFolderHelp}};
    add(std::move(s));
  }
  {
    OptionSpec s("plots", Kind::words, "none|png|svg|pdf");
    s.words = {"none", "png", "svg", "pdf"};
    s.read = [words = s.words](const std::string& code) {
      return Value(words[std::stoul(code)]);
    };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.output.plots = std::get<std::string>(v); };
    s.uses = {{kAnalyse, "Output",
               "Draw the dialogue's plots to files: none, png, svg or pdf (default none)"},
              {kEvolve, "Output",
               "Draw the heat map of each series to a file: none, png, svg or pdf "
               "(default none)"},
              {kCoherence, "Output",
               "Draw coherence and phase to a file: none, png, svg or pdf (default none)"},
              {kEnsemble, "Output", "Draw the median spectrum, its 95 % band and the significance fractions of each series to a file: none, png, svg or pdf (default none)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("jobs", Kind::whole, "N");
    s.low = 1;
    s.high = 1024;
    s.noun = "jobs";
    s.store = [](const Value& v, RunOptions& o, InputOptions&) {
      o.output.jobs = int_of(v);
      o.significance.jobs = int_of(v);
    };
    s.uses = {{kAnalyse, "Output", "Series analysed at the same time (default the number of cores)"},
              {kEvolve, "Output",
               "Threads that share the windows (default the number of cores); the files are "
               "the same for any number"},
              {kCoherence, "Output",
               "Threads that share the surrogates (default the number of cores); the files "
               "are the same for any number"},
              {kEnsemble, "Output", "Threads that share the members (default the number of cores); the files are the same for any number"}};
    s.keyword = plain_keyword<int, &Settings::jobs>(SettingType::integer, "threads for the surrogates", true);
    add(std::move(s));
  }
  {
    OptionSpec s("quiet", Kind::flag, "");
    s.flag = [](RunOptions& o) -> bool& { return o.output.quiet; };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.output.quiet = std::get<bool>(v); };
    s.uses = {{kAnalyse, "Output",
               "Nothing on the standard output and no progress line; errors and warnings only"},
              {kEvolve | kCoherence, "Output", "Nothing on the standard output; errors only"},
              {kEnsemble, "Output", "Nothing on the standard output; errors only"}};
    add(std::move(s));
  }
  {
    OptionSpec s("wait", Kind::flag, "");
    s.flag = [](RunOptions& o) -> bool& { return o.output.wait; };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.output.wait = std::get<bool>(v); };
    s.uses = {{kEveryCommand, "Output",
               "Wait for another run writing to the same --out folder to end, instead of "
               "refusing to start"}};
    add(std::move(s));
  }
  {
    OptionSpec s("format", Kind::words, "csv|netcdf");
    s.words = {"csv", "netcdf"};
    s.read = [words = s.words](const std::string& code) { return Value(words[std::stoul(code)]); };
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.output.format = std::get<std::string>(v); };
    s.uses = {{kAnalyse, "Output",
               "Format of the spectrum file: csv, or netcdf for a NetCDF-4 file "
               "<series>.spectrum.nc with the same columns as variables on the frequency "
               "dimension and the settings as attributes; the peaks and reconstruction "
               "files stay CSV (default csv)"},
              {kEnsemble, "Output", "Format of the ensemble file: csv, or netcdf for <series>.ensemble.nc with the same columns on the frequency dimension (and every member's spectrum on a member dimension with --members-out); the peaks stay CSV (default csv)"}};
    add(std::move(s));
  }
  {
    OptionSpec s("spectrum-band", Kind::band, "FMIN:FMAX");
    s.store = [](const Value& v, RunOptions& o, InputOptions&) { o.output.spectrum_band = pair_of(v); };
    s.uses = {{kAnalyse, "Output",
               "Write only the spectrum rows of frequencies FMIN to FMAX; the peaks and levels "
               "still come from the whole band (default every row)"}};
    add(std::move(s));
  }
  return t;
}

// {low} and {high} of `text` replaced by the range.
std::string with_range(std::string text, long long low, unsigned long long high) {
  for (const auto& [key, value] :
       {std::pair<std::string, std::string>{"{low}", std::to_string(low)}, {"{high}", std::to_string(high)}}) {
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
      text.replace(at, key.size(), value);
  }
  return text;
}

// A keyword's default as Python writes it.
std::string python_text(const Value& v) {
  return std::visit(
      [](const auto& x) -> std::string {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) return "None";
        else if constexpr (std::is_same_v<T, bool>) return x ? "True" : "False";
        else if constexpr (std::is_same_v<T, std::string>) return "'" + x + "'";
        else if constexpr (std::is_same_v<T, Band>) return fmt::format("({:g}, {:g})", x.low, x.high);
        else if constexpr (std::is_same_v<T, double>) return fmt::format("{:g}", x);
        else return std::to_string(x);
      },
      v);
}

}  // namespace

const Use* OptionSpec::use(Command command) const {
  for (const Use& u : uses)
    if ((u.commands & command) != 0) return &u;
  return nullptr;
}

std::string OptionSpec::keyword_name() const {
  std::string text = name;
  std::replace(text.begin(), text.end(), '-', '_');
  return text;
}

const Vocabulary& vocabulary() {
  static const Vocabulary table = make_vocabulary();
  return table;
}

TextCheck text_check(const OptionSpec& spec, Command command) {
  const Use* use = spec.use(command);
  const long long low = use && use->low ? *use->low : spec.low;
  switch (spec.kind) {
    case Kind::whole: {
      const std::string noun = use && !use->noun.empty() ? use->noun : spec.noun;
      std::string expected = fmt::format("a whole number {}from {} to {}",
                                         noun.empty() ? "" : "of " + noun + " ", low, spec.high) +
                             spec.expected_note;
      if (use && !use->expected.empty()) expected = use->expected;
      std::function<bool(unsigned long long)> accepted = spec.accepted;
      if (!accepted)
        accepted = [low, high = spec.high](unsigned long long v) {
          return static_cast<unsigned long long>(low) <= v && v <= high;
        };
      return whole_check(accepted, expected, spec.refused);
    }
    case Kind::words:
      return word_check(spec.words, "");
    case Kind::band:
      return kBand;
    default:
      return spec.check;
  }
}

Value text_value(const OptionSpec& spec, const std::string& text) {
  if (spec.read) return spec.read(text);
  switch (spec.kind) {
    case Kind::whole:
    case Kind::words: return Value(std::stoll(text));
    case Kind::number:
      // Read in long double and then rounded to single precision, as the
      // option parser (CLI11) converts its numbers: the values are the
      // parser's own, where a direct single-precision reading could round a
      // rare text the other way.
      return Value(static_cast<double>(static_cast<float>(std::strtold(text.c_str(), nullptr))));
    case Kind::band: {
      float low = 0.0f, high = 0.0f;
      read_band(text, low, high);
      return Value(Band{low, high});
    }
    case Kind::flag: return Value(true);
    default: return Value(text);
  }
}

std::string description(const OptionSpec& spec, Command command) {
  const Use* use = spec.use(command);
  if (use == nullptr) return {};
  return with_range(use->help, use->low ? *use->low : spec.low, spec.high);
}

Status options_of(const Settings& settings, const Vocabulary& table, RunOptions& options) {
  static const Settings defaults;
  for (const OptionSpec& spec : table) {
    if (!spec.keyword) continue;
    const Keyword& k = *spec.keyword;
    const Value value = k.get(settings);
    if (!given(value)) continue;
    if (spec.kind == Kind::whole && !k.refuse) {
      const auto v = std::holds_alternative<long long>(value)
                         ? static_cast<double>(std::get<long long>(value))
                         : static_cast<double>(std::get<std::uint64_t>(value));
      if (v < static_cast<double>(spec.low) || v > static_cast<double>(spec.high)) {
        std::string message = fmt::format("{} must be from {} to {}, not {}", spec.keyword_name(),
                                          spec.low, spec.high, v);
        if (!k.refusal_note.empty()) message += " (" + k.refusal_note + ")";
        return Status::failure(message);
      }
    }
    if (k.refuse)
      if (std::string problem = k.refuse(value); !problem.empty()) return Status::failure(problem);
    // A setting at its default is not given: the series' own default
    // stands (for the counts and flags the two are the same).
    if (value == k.get(defaults)) continue;
    spec.store(value, options, options.input);
  }
  return Status::success();
}

std::vector<std::string> keyword_names(const Vocabulary& table) {
  std::vector<std::string> names;
  for (const OptionSpec& spec : table)
    if (spec.keyword) names.push_back(spec.keyword_name());
  return names;
}

std::string keyword_doc(const Vocabulary& table) {
  static const Settings defaults;
  std::vector<std::string> pieces;
  for (const OptionSpec& spec : table) {
    if (!spec.keyword) continue;
    const Keyword& k = *spec.keyword;
    Value initial = k.get(defaults);
    if (k.type == SettingType::word && given(initial))
      initial = Value(spec.words[static_cast<std::size_t>(whole_of(initial))]);
    std::string piece = spec.keyword_name() + "=" + python_text(initial);
    std::string doc = with_range(k.doc, spec.low, spec.high);
    if (const auto at = doc.find("{words}"); at != std::string::npos)
      doc.replace(at, 7, listed(spec.words));
    if (!doc.empty()) piece += " (" + doc + ")";
    pieces.push_back(piece);
  }
  // The pieces separated by ", ", broken at blanks into lines of at most 76
  // characters, each indented by two.
  std::string text, line, word;
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) joined += pieces[i] + (i + 1 < pieces.size() ? ", " : ".");
  std::istringstream words(joined);
  while (words >> word) {
    if (!line.empty() && line.size() + 1 + word.size() > 74) {
      text += "  " + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return text + "  " + line;
}

namespace {

// The value of a layout answer's text as the library takes it, or the reason.
std::string answer_value(const OptionSpec& spec, const std::string& text, Value& value) {
  switch (spec.kind) {
    case Kind::whole: {
      long number = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
      if (error != std::errc() || end != text.data() + text.size() || number < spec.low ||
          static_cast<unsigned long long>(number) > spec.high)
        return fmt::format("'{}' is not a whole number from {} to {}", text, spec.low, spec.high);
      value = static_cast<long long>(number);
      return {};
    }
    case Kind::number: {
      float number = 0.0f;
      if (reading(text, number) != Reading::number) return "'" + text + "' is not a finite number";
      value = static_cast<double>(number);
      return {};
    }
    default:
      if (!spec.empty_item.empty()) {
        for (const auto& item : split(text, ','))
          if (item.empty()) return spec.empty_item;
      } else if (text.empty()) {
        return "the value is empty";
      }
      value = text;
      return {};
  }
}

}  // namespace

Status layout_answers(std::string_view layout, const std::map<std::string, std::string>& answers,
                      InputOptions& in, const Vocabulary& table) {
  in = InputOptions{};
  in.layout = input::layout_code(layout);
  if (in.layout == 0) {
    std::string names;
    for (const auto& n : input::layout_names()) names += (names.empty() ? "" : ", ") + n;
    return Status::failure("layout '" + std::string(layout) + "' is not one of " + names);
  }
  for (const auto& [key, text] : answers) {
    // A structured binding cannot be captured by every compiler the fuzz
    // build uses (clang before 16).
    const std::string& name = key;
    const auto spec = std::find_if(table.begin(), table.end(), [&name](const OptionSpec& s) {
      return !s.layouts.empty() && s.keyword_name() == name;
    });
    if (spec == table.end()) {
      std::string known;
      for (const OptionSpec& s : table)
        if (!s.layouts.empty()) known += (known.empty() ? "" : ", ") + s.keyword_name();
      return Status::failure("'" + key + "' is not an option of read; the options are " + known);
    }
    if (std::find(spec->layouts.begin(), spec->layouts.end(), in.layout) == spec->layouts.end())
      return Status::failure(key + " applies to layout " + spec->which + " only, not to layout " +
                             input::layout_names()[static_cast<std::size_t>(in.layout - 1)]);
    Value value;
    if (std::string problem = answer_value(*spec, text, value); !problem.empty())
      return Status::failure(key + ": " + problem);
    RunOptions unused;
    spec->store(value, unused, in);
  }
  return layout_contradiction(in, Naming::keywords, table);
}

Status layout_contradiction(const InputOptions& in, Naming naming, const Vocabulary& table) {
  const std::string prefix = naming == Naming::options ? "--layout " : "layout ";
  const std::string layout = prefix + input::layout_names()[static_cast<std::size_t>(in.layout - 1)];
  const auto name = [naming](std::string_view option) { return option_name(naming, option); };
  for (const OptionSpec& spec : table) {
    if (spec.layouts.empty() || !spec.answered(in)) continue;
    if (std::find(spec.layouts.begin(), spec.layouts.end(), in.layout) != spec.layouts.end())
      continue;
    return Status::failure(name(spec.name) + " applies to " + prefix + spec.which +
                           " only, not to " + layout);
  }
  if (in.layout == 5 && !in.columns)
    return Status::failure(prefix + "multi needs " + name("columns") + " (columns including X)");
  if (in.layout == 5 && *in.columns < 2)
    return Status::failure(name("columns") + " must be at least 2 with " + prefix +
                           "multi (the X column and one series)");
  if (in.layout == 7 && !in.record_layout)
    return Status::failure(prefix + "rows needs " + name("record-layout"));
  if (in.layout == 7 && !in.columns) return Status::failure(prefix + "rows needs " + name("columns"));
  return Status::success();
}

input::ReadOptions read_options(const InputOptions& in) {
  input::ReadOptions r;
  r.iform = in.layout;
  r.lskip = in.skip.value_or(0);
  r.ncol = in.columns.value_or(0);
  r.sentinel = in.sentinel.value_or("*");
  r.nvar = in.per_line.value_or(12);
  r.mult = in.multiplier.value_or(1.0f);
  r.rfmt = in.record_layout.value_or("");
  r.time_column = in.time_column.value_or("");
  r.value_columns = in.value_columns;
  return r;
}

bool read_number(std::string_view text, double& value) {
  return reading(text, value) == Reading::number;
}

bool read_band(std::string_view text, float& low, float& high) {
  const auto items = split(std::string(text), ':');
  return items.size() == 2 && reading(items[0], low) == Reading::number &&
         reading(items[1], high) == Reading::number;
}

bool read_band(std::string_view text, double& low, double& high) {
  const auto items = split(std::string(text), ':');
  return items.size() == 2 && reading(items[0], low) == Reading::number &&
         reading(items[1], high) == Reading::number;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> items;
  std::string item;
  std::istringstream stream(text);
  while (std::getline(stream, item, separator)) items.push_back(item);
  if (!text.empty() && text.back() == separator) items.emplace_back();
  if (text.empty()) items.emplace_back();
  return items;
}

}  // namespace quorvane::api
