#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <ostream>
#include <sstream>

#include "api/results.h"

namespace quorvane::cli {

namespace {

using api::Kind;
using api::OptionSpec;

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

// The options `command` takes, in the table's order except those asked to
// come before another. The later ones move first, so that an option asked
// before one that itself moves ends up before it still.
std::vector<const OptionSpec*> command_options(const api::Vocabulary& table, api::Command command) {
  std::vector<const OptionSpec*> order;
  for (const OptionSpec& spec : table)
    if (spec.use(command) != nullptr) order.push_back(&spec);
  for (auto it = table.rbegin(); it != table.rend(); ++it) {
    const api::Use* use = it->use(command);
    if (use == nullptr || use->before.empty()) continue;
    order.erase(std::find(order.begin(), order.end(), &*it));
    const auto target = std::find_if(order.begin(), order.end(), [use](const OptionSpec* spec) {
      return spec->name == use->before;
    });
    order.insert(target, &*it);
  }
  return order;
}

// Declares one option; `second` the layout option of FILE_B (its name ends
// in "-b" and it writes into options.pair.second).
void declare(CLI::App& app, const OptionSpec& spec, api::Command command, Options& options,
             bool second) {
  const api::Use& use = *spec.use(command);
  std::string name = spec.name;
  std::string help = api::description(spec, command);
  if (spec.kind != Kind::positional) name = "--" + name;
  if (second) {
    // A second file's options say which file they are for, and default to
    // the first file's values.
    help = "FILE_B: as " + name + " (default that of the first file)";
    name += "-b";
  }
  CLI::Option* option = nullptr;
  if (spec.kind == Kind::flag) {
    option = app.add_flag(name, spec.flag(options), help);
  } else {
    option = app.add_option_function<std::string>(
        name,
        [&spec, &options, second](const std::string& text) {
          spec.store(api::text_value(spec, text), options,
                     second ? options.pair.second : options.input);
        },
        help);
    if (api::TextCheck check = api::text_check(spec, command))
      option->transform(CLI::Validator(std::move(check), ""));
    option->type_name(use.type.empty() ? spec.type : use.type);
  }
  if (!use.group.empty()) option->group(use.group);
  if (spec.required && !second) option->required();
}

}  // namespace

void add_options(CLI::App& app, api::Command command, Options& options,
                 const api::Vocabulary& table) {
  std::vector<const OptionSpec*> layout;
  for (const OptionSpec* spec : command_options(table, command)) {
    // Coherence's FILE_B has the layout options again, after the first's.
    if (!spec->layout && !layout.empty() && command == api::kCoherence)
      for (const OptionSpec* answer : layout) declare(app, *answer, command, options, true);
    if (!spec->layout) layout.clear();
    if (spec->layout) layout.push_back(spec);
    declare(app, *spec, command, options, false);
  }
  for (CLI::Option* option : app.get_options())
    option->description(wrapped(option->get_description(), 60));
}

Status layout_contradiction(const InputOptions& in, const api::Vocabulary& table) {
  return api::layout_contradiction(in, api::Naming::options, table);
}

Status contradiction(const Options& o) {
  if (Status layout = layout_contradiction(o.input); !layout) return layout;
  return api::contradiction(o.analysis, o.significance, o.recon, api::Naming::options);
}

ParseOutcome usage_error(const std::string& program, const std::string& message,
                         std::ostream& err) {
  err << program << ": " << message << "\n"
      << "Run '" << program << " --help' for the options.\n";
  return {false, 2};
}

ParseOutcome parse_arguments(CLI::App& app, const std::vector<std::string>& args,
                             const std::string& program,
                             std::string (*help)(const CLI::App& app), std::ostream& out,
                             std::ostream& err) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << help(app);
    return {false, 0};
  } catch (const CLI::ParseError& error) {
    return usage_error(program, error.what(), err);
  }
  return {true, 0};
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
       << "  quorvane ensemble FILE --layout L --ensemble AGES.csv [options]\n"
       << "                                   spectra under age-model uncertainty (see quorvane ensemble --help)\n"
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
  static const std::vector<std::string> names = [] {
    for (const OptionSpec& spec : api::vocabulary())
      if (spec.name == "sampling") return spec.words;
    return std::vector<std::string>();
  }();
  return names;
}

ParseOutcome parse_command_line(const std::vector<std::string>& args, Options& options,
                                std::ostream& out, std::ostream& err,
                                const api::Vocabulary& table) {
  CLI::App app{"Multitaper spectral analysis", "quorvane"};
  app.set_help_flag("-h,--help", "Show every option with its default");
  bool version = false;
  app.add_flag("--version", version, "Show the program version");
  CLI::App* analyse = app.add_subcommand("analyse", "Analyse series of FILE without questions");
  analyse->set_help_flag("-h,--help", "Show every option with its default");
  analyse->get_formatter()->column_width(34);
  add_options(*analyse, api::kAnalyse, options, table);

  if (!args.empty() && !args[0].empty() && args[0][0] != '-' && args[0] != "analyse") {
    err << "quorvane: unknown command '" << args[0] << "': the commands are analyse, evolve, coherence and ensemble\n"
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
  if (Status contradicting = contradiction(options); !contradicting)
    return usage_error("quorvane", contradicting.message, err);
  for (float f : merge_equal_frequencies(options.recon.frequencies))
    err << "quorvane: warning: --reconstruct gives the frequency " << api::number_text(f)
        << " more than once; its signal is reconstructed once\n";
  return {true, 0};
}

}  // namespace quorvane::cli
