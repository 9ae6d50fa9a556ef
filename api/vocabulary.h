// The options of the commands and the keywords of the library's functions,
// each written once: its name, the values it takes, its default, its help
// for each command that uses it, and how a value given is stored. The
// command line's declarations of analyse, evolve and coherence, the
// library's check of its settings, and the Python keywords with their
// documentation are all made from this one table.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/options.h"
#include "input/series_file.h"
#include "quorvane/settings.h"

namespace quorvane::api {

// The commands, as bits, so that an option names every command that uses it.
enum Command : unsigned {
  kAnalyse = 1u,
  kEvolve = 2u,
  kCoherence = 4u,
  kEnsemble = 8u,
  kEveryCommand = 15u
};

// A value between its reading (from the command line's text, a Python
// object or a field of Settings) and its storing into the options.
using Value = SettingValue;

// A check of an option's text as the command line gives it: the refusal
// (without the option's name, which the parser puts in front) or empty. It
// may rewrite the text into the form the option reads (a word into its code).
using TextCheck = std::function<std::string(std::string&)>;

// How the commands in `commands` show an option.
struct Use {
  Use(unsigned commands, std::string group, std::string help, std::optional<long long> low = {},
      std::string noun = {}, std::string expected = {}, std::string before = {},
      std::string type = {})
      : commands(commands), group(std::move(group)), help(std::move(help)), low(low),
        noun(std::move(noun)), expected(std::move(expected)), before(std::move(before)),
        type(std::move(type)) {}
  unsigned commands = 0;
  std::string group;  // the help's section; empty for a positional
  // The description; {low} and {high} stand for a whole number's range.
  std::string help;
  std::optional<long long> low;  // where the range starts for these commands
  std::string noun;              // what a whole number counts, where it differs
  std::string expected;          // what a refusal says the option takes, where it differs
  std::string before;            // listed before that option, not in table order
  std::string type;              // the value's form in the help, where it differs
};

enum class Kind {
  positional,  // FILE and the like
  flag,        // no value
  whole,       // a whole number from low to high
  number,      // a finite number
  words,       // one of `words` in any letter case, stored as its position
  band,        // LOW:HIGH
  text,        // other text, checked by `check`
};

// A library keyword (of spectrum(), and of coherence() when `coherence`).
struct Keyword {
  SettingType type = SettingType::integer;
  // What the documentation says after "name=default"; {words}, {low} and
  // {high} stand for the option's words and range. Empty: nothing.
  std::string doc;
  bool coherence = false;
  std::function<Value(const Settings&)> get;
  std::function<void(Settings&, const Value&)> set;
  // The refusal of a value given through the library, or empty; a whole
  // number's range is checked without it.
  std::function<std::string(const Value&)> refuse;
  std::string refusal_note;  // after a range refusal, in parentheses
};

struct OptionSpec {
  OptionSpec(std::string name, Kind kind, std::string type)
      : name(std::move(name)), kind(kind), type(std::move(type)) {}
  std::string name;  // as the command line spells it, without "--"
  Kind kind = Kind::text;
  std::string type;  // the value's name in the help
  bool required = false;
  // An answer of an input layout: coherence's FILE_B has it again, as
  // --NAME-b, defaulting to the first file's.
  bool layout = false;
  // A layout answer: the codes of the layouts that take it, and their names
  // for a message ("two, multi, monthly, rows and csv").
  std::vector<int> layouts;
  std::string which;
  // A list of names separated by commas: what the library says of an empty one.
  std::string empty_item;
  // Whether the answer is given in an input's options.
  std::function<bool(const InputOptions&)> answered;
  long long low = 0;
  unsigned long long high = 0;
  std::string noun;                // whole: what the number counts
  // whole: the numbers of the range it takes, when not all, and what a
  // refusal says of the others.
  std::function<bool(unsigned long long)> accepted;
  std::string refused = "is out of range";
  std::vector<std::string> words;  // words: each word's code is its position
  // The text's check, when not the kind's own (a whole number in range, one
  // of the words, a finite number, a band).
  TextCheck check;
  std::string expected_note;  // whole: added to what a refusal says the option takes
  // The value of a text the check accepted; when empty, by the kind.
  std::function<Value(const std::string&)> read;
  // Stores a value given; `input` is the layout's file (the first or FILE_B).
  std::function<void(const Value&, RunOptions&, InputOptions& input)> store;
  bool& (*flag)(RunOptions&) = nullptr;  // a flag's target
  std::vector<Use> uses;
  std::optional<Keyword> keyword;

  // Its use by `command`, or nothing when the command does not take it.
  const Use* use(Command command) const;
  // The keyword's name: the option's with '_' between words.
  std::string keyword_name() const;
};

using Vocabulary = std::vector<OptionSpec>;

// Every option of every command, in the order the help lists them.
const Vocabulary& vocabulary();

// The command line's check of `spec`'s text for `command` (an empty
// function when it takes any text).
TextCheck text_check(const OptionSpec& spec, Command command);
// The value of a text that the check accepted.
Value text_value(const OptionSpec& spec, const std::string& text);
// The description of `spec` for `command`, its range filled in.
std::string description(const OptionSpec& spec, Command command);

// The options of the library's `settings` of a spectrum run: a setting
// counts as given when it differs from its default, so that Settings{}
// runs exactly the defaults of the series (and a default noise yields to
// the harmonic assumption's locally-white noise, as an option left out
// does on the command line). A failure names the first setting out of its
// range.
Status options_of(const Settings& settings, const Vocabulary& table, RunOptions& options);

// The keywords of spectrum() in `table`, and the lines of their
// documentation: "name=default (what it takes)", wrapped.
std::vector<std::string> keyword_names(const Vocabulary& table);
std::string keyword_doc(const Vocabulary& table);

// Reads "LOW:HIGH" (two numbers written in full, in single or double
// precision); false when the text is not that. The range is not checked.
bool read_band(std::string_view text, float& low, float& high);
bool read_band(std::string_view text, double& low, double& high);

// The answers of layout `layout` (a name or a code 1..8) given by keyword,
// each as text, as the library's read() takes them (skip, per_line,
// multiplier, sentinel, record_layout, columns, time_column,
// value_columns), into `input`. Refuses an unknown layout or keyword, a
// keyword the layout does not take and a bad value, naming the keyword.
Status layout_answers(std::string_view layout, const std::map<std::string, std::string>& answers,
                      InputOptions& input, const Vocabulary& table = vocabulary());

// Layout answers given for a layout that does not take them, or missing
// where the layout needs them, named in the style of `naming`.
Status layout_contradiction(const InputOptions& input, Naming naming,
                            const Vocabulary& table = vocabulary());

// The reader's answers of `input` (without a cancellation callback).
input::ReadOptions read_options(const InputOptions& input);

// Reads a finite number written in full; false when the text is not one.
bool read_number(std::string_view text, double& value);

// Splits "a,b,c" at `separator`; an empty item is kept, so the caller can
// refuse it.
std::vector<std::string> split(const std::string& text, char separator);

}  // namespace quorvane::api
