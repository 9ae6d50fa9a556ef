// The one option vocabulary: an option added to the table reaches every
// command's help and parser, the library's keywords and their documentation;
// each option is declared once; the library reads its settings and read()'s
// layout answers through the same table (ranges, defaults, words).
#include "api/vocabulary.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <memory>
#include <set>
#include <sstream>

#include "cli/coherence_command.h"
#include "cli/evolve_command.h"
#include "cli/options.h"
#include "tests/cli/cli_test_support.h"

namespace quorvane::cli {
namespace {

using namespace testing;

// The vocabulary with one more option, --lantern N (1..9), for every
// command and as a library keyword; what it stores goes to `stored`.
api::Vocabulary with_lantern(std::shared_ptr<long long> stored) {
  api::Vocabulary table = api::vocabulary();
  api::OptionSpec lantern("lantern", api::Kind::whole, "N");
  lantern.low = 1;
  lantern.high = 9;
  lantern.noun = "lanterns";
  lantern.store = [stored](const api::Value& v, api::RunOptions&, api::InputOptions&) {
    *stored = std::get<long long>(v);
  };
  lantern.uses = {{api::kEveryCommand, "Analysis", "Lanterns lit, {low}..{high} (default 3)"}};
  api::Keyword keyword;
  keyword.doc = "{low}..{high}";
  keyword.get = [](const Settings&) { return api::Value(3LL); };
  keyword.set = [](Settings&, const api::Value&) {};
  lantern.keyword = keyword;
  table.push_back(std::move(lantern));
  return table;
}

struct Parsed {
  ParseOutcome outcome;
  std::string out, err;
};

// Parses `args` as `command` ("analyse", "evolve" or "coherence") with `table`.
Parsed parse_with(const std::string& command, std::vector<std::string> args,
                  const api::Vocabulary& table) {
  Parsed p;
  std::ostringstream out, err;
  Options options;
  if (command == "analyse") {
    args.insert(args.begin(), "analyse");
    p.outcome = parse_command_line(args, options, out, err, table);
  } else if (command == "evolve") {
    p.outcome = parse_evolve(args, options, out, err, table);
  } else {
    p.outcome = parse_coherence(args, options, out, err, table);
  }
  p.out = out.str();
  p.err = err.str();
  return p;
}

TEST(Vocabulary, AnOptionAddedToTheTableReachesEveryCommandAndTheLibraryKeywords) {
  const auto stored = std::make_shared<long long>(0);
  const api::Vocabulary table = with_lantern(stored);
  const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
      {"analyse", {"f.dat", "--layout", "single"}},
      {"evolve", {"f.dat", "--layout", "single", "--window", "50", "--step", "5"}},
      {"coherence", {"f.csv", "--layout", "csv"}}};
  for (const auto& [command, valid] : commands) {
    const Parsed help = parse_with(command, {"--help"}, table);
    EXPECT_NE(help.out.find("--lantern N"), std::string::npos) << command << help.out;
    EXPECT_NE(help.out.find("Lanterns lit, 1..9 (default 3)"), std::string::npos) << command;
    // The help without the throwaway option has no such line.
    EXPECT_EQ(parse_with(command, {"--help"}, api::vocabulary()).out.find("--lantern"),
              std::string::npos);

    std::vector<std::string> args = valid;
    args.insert(args.end(), {"--lantern", "07"});
    *stored = 0;
    const Parsed given = parse_with(command, args, table);
    EXPECT_TRUE(given.outcome.run) << command << given.err;
    EXPECT_EQ(*stored, 7) << command;

    args.back() = "10";
    const Parsed refused = parse_with(command, args, table);
    EXPECT_FALSE(refused.outcome.run);
    EXPECT_NE(refused.err.find("--lantern: '10' is out of range; expected a whole number of "
                               "lanterns from 1 to 9"),
              std::string::npos)
        << command << refused.err;
  }
  const std::vector<std::string> names = api::keyword_names(table);
  EXPECT_EQ(names.back(), "lantern");
  // The documentation is wrapped wherever the pieces before it end: read
  // it as one line.
  std::string doc = api::keyword_doc(table);
  for (std::size_t at; (at = doc.find("\n  ")) != std::string::npos;) doc.replace(at, 3, " ");
  EXPECT_NE(doc.find("lantern=3 (1..9)"), std::string::npos) << doc;
  // The library refuses the keyword's values outside its range by the same table.
  api::RunOptions options;
  api::Vocabulary out_of_range = table;
  out_of_range.back().keyword->get = [](const Settings&) { return api::Value(12LL); };
  const Status status = api::options_of(Settings{}, out_of_range, options);
  EXPECT_EQ(status.message, "lantern must be from 1 to 9, not 12");
}

TEST(Vocabulary, TheLibrarySettingsCountAsGivenOnlyWhereTheyDifferFromTheirDefaults) {
  api::RunOptions defaults;
  ASSERT_TRUE(api::options_of(Settings{}, api::vocabulary(), defaults));
  EXPECT_FALSE(defaults.analysis.noise || defaults.analysis.tapers || defaults.analysis.reshape ||
               defaults.analysis.estimate || defaults.analysis.resolution);
  EXPECT_FALSE(defaults.significance.surrogates_given || defaults.significance.seed_given);

  Settings s;
  s.noise = Noise::white;
  s.reshape = 99.9;
  s.estimate = Estimate::hires;
  s.tapers = 5;
  s.band = Band{0.1, 0.2};
  s.surrogates = 99;
  api::RunOptions given;
  ASSERT_TRUE(api::options_of(s, api::vocabulary(), given));
  // As the command line gives them: white, the sixth level, hires.
  EXPECT_EQ(given.analysis.noise, Noise::white);
  EXPECT_EQ(given.analysis.reshape, 6);
  EXPECT_EQ(given.analysis.estimate, Estimate::hires);
  EXPECT_EQ(given.analysis.tapers, 5);
  EXPECT_EQ(given.analysis.band, std::make_pair(0.1f, 0.2f));
  EXPECT_TRUE(given.significance.surrogates_given);
  EXPECT_EQ(given.significance.surrogates, 99);

  const std::vector<std::pair<std::function<void(Settings&)>, std::string>> refusals = {
      {[](Settings& x) { x.band = Band{0.3, 0.2}; }, "band (0.3, 0.2) needs 0 <= low < high"},
      {[](Settings& x) { x.smoothing = -1.0; }, "smoothing must be a positive number, not -1"}};
  for (const auto& [change, message] : refusals) {
    Settings bad;
    change(bad);
    api::RunOptions options;
    const Status status = api::options_of(bad, api::vocabulary(), options);
    EXPECT_EQ(status.message.substr(0, message.size()), message);
  }
}

TEST(Vocabulary, TheDefaultTapersStopAtTheMostTheEngineTakesForEveryAnalysis) {
  EXPECT_EQ(api::default_tapers(2), 3);
  EXPECT_EQ(api::default_tapers(4), 7);
  EXPECT_EQ(api::default_tapers(5), 8);
  EXPECT_EQ(api::default_tapers(40), api::kMostTapers);
  // A resolution above 4 without --tapers is a spectrum of 8 tapers, as a
  // coherence is, not a refusal.
  const Parsed parsed =
      parse_with("analyse", {"f.dat", "--layout", "single", "--resolution", "5"}, api::vocabulary());
  EXPECT_TRUE(parsed.outcome.run) << parsed.err;
  api::AnalysisOptions a;
  a.resolution = 6;
  api::SignificanceOptions g;
  g.jackknife = true;
  EXPECT_TRUE(api::contradiction(a, g, {}, api::Naming::options));
}

}  // namespace
}  // namespace quorvane::cli
