// The command line and the dialogue give the same science: the same peak
// list, spectrum columns equal to the dialogue's plot-data files at the
// precision those print, and the same reconstruction.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "driver/program.h"
#include "tests/cli/cli_test_support.h"
#include "textio/free_format.h"
#include "textio/layout.h"

namespace quorvane::cli {
namespace {

using namespace testing;

struct Example {
  std::string file;
  std::vector<std::string> options;  // the layout's options
  std::string answers;               // the same in the input dialogue, series 1, no view
  std::string stem;
  float first_time = 0.0f;
  float dt = 0.0f;
};

std::vector<std::string> read_lines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The dialogue's plot-data line of one band entry: (f7.4,1x,ke14.2).
std::string plot_data_line(float frequency, const std::vector<float>& values) {
  std::string line = textio::format_fixed(frequency, 7, 4) + " ";
  for (float v : values) line += textio::format_exponent(v, 14, 2);
  return line;
}

// Test names show the example, not the bytes of the parameter.
void PrintTo(const Example& example, std::ostream* out) { *out << example.stem; }

class DialogueAgreement : public ::testing::TestWithParam<Example> {};

TEST_P(DialogueAgreement, BatchResultsEqualTheDialoguesSavedPlotData) {
  const Example& e = GetParam();
  const fs::path folder = fresh_folder("agreement_" + e.stem);
  std::vector<std::string> args = {"analyse", e.file};
  args.insert(args.end(), e.options.begin(), e.options.end());
  for (const char* a : {"--out", "", "--reconstruct", "peaks", "--quiet"}) args.emplace_back(a);
  args[args.size() - 4] = folder.string();
  const BatchRun batch = run_batch(args);
  ASSERT_EQ(batch.status, 0) << batch.err;
  const Csv spectrum = read_csv(folder / (e.stem + ".spectrum.csv"));
  const Csv peaks = read_csv(folder / (e.stem + ".peaks.csv"));
  const Csv recon = read_csv(folder / (e.stem + ".recon.csv"));
  ASSERT_FALSE(spectrum.rows.empty());
  ASSERT_FALSE(peaks.rows.empty());

  // The dialogue: spectrum run saving each of its four plots, then the
  // entries the batch reconstructed (non-trend peaks at 99 %), saving the
  // reconstruction.
  const std::array<std::string, 5> kinds = {"raw", "reshaped", "median", "ftest", "recon"};
  std::string script = e.file + "\n" + e.answers + "1\nF\n0\n";
  for (std::size_t k = 0; k < 4; ++k) script += "s\n" + (folder / kinds[k]).string() + "\nc\n";
  script += "5\n";
  const std::size_t significance = peaks.column("significance"), trend = peaks.column("trend");
  for (std::size_t i = 0; i < peaks.rows.size(); ++i)
    if (peaks.rows[i][trend] == 0.0f && peaks.rows[i][significance] >= 99.0f)
      script += std::to_string(i + 1) + "\n";
  script += "0\n0\ns\n" + (folder / kinds[4]).string() + "\nc\n8\n";
  // The dialogue's own plots are not what is compared; draw them nowhere.
  ::setenv("QUORVANE_DEVICE", "null", 1);
  std::istringstream in(script);
  std::ostringstream out, err;
  ASSERT_EQ(driver::run_quorvane(in, out, err), 0) << err.str();
  const std::string transcript = out.str();

  // The same peak list: every entry's line of the signals table.
  for (std::size_t i = 0; i < peaks.rows.size(); ++i) {
    const auto& p = peaks.rows[i];
    const long long rounded = static_cast<long long>(p[significance] + 0.5f);
    const long long entry = static_cast<long long>(i) + 1;
    const textio::Record line =
        p[trend] == 1.0f
            ? textio::write_record(textio::RecordLayout::fixed("(a1,i2,a11,i9,a1,i6)"),
                                   {std::string("   ("), entry, std::string(")   TREND  "), rounded,
                                    std::string("%"), 0LL})
            : textio::write_record(textio::RecordLayout::fixed("(a1,i2,a2,f9.4,i9,a1,i6)"),
                                   {std::string("   ("), entry, std::string(") "),
                                    static_cast<double>(p[0]), rounded, std::string("%"), 0LL});
    EXPECT_NE(transcript.find(line.text + "\n"), std::string::npos) << line.text;
  }
  const textio::Record add =
      textio::write_record(textio::RecordLayout::fixed("(a1,i2,a22)"),
                           {std::string("   ("), static_cast<long long>(peaks.rows.size()) + 1,
                            std::string(")    ADD NEW frequency")});
  EXPECT_NE(transcript.find(add.text + "\n"), std::string::npos) << "list length";

  // Spectrum columns at the plot-data files' precision, line for line.
  const std::array<std::vector<std::string>, 4> columns = {{
      {"estimate", "level50", "level90", "level95", "level99"},
      {"reshaped", "harmonic"},
      {"median"},
      {"F", "F50", "F90", "F95", "F99"},
  }};
  for (std::size_t k = 0; k < 4; ++k) {
    const auto saved = read_lines(folder / kinds[k]);
    ASSERT_EQ(saved.size(), spectrum.rows.size() + 1) << kinds[k];
    for (std::size_t i = 0; i < spectrum.rows.size(); ++i) {
      std::vector<float> values;
      for (const auto& name : columns[k]) {
        ASSERT_LT(spectrum.column(name), spectrum.header.size()) << name;
        values.push_back(spectrum.rows[i][spectrum.column(name)]);
      }
      ASSERT_EQ(plot_data_line(spectrum.rows[i][0], values), saved[i + 1])
          << kinds[k] << " entry " << i;
    }
  }

  // The reconstruction: the dialogue's elapsed time is the batch's time
  // axis less the first time, and signal and anomaly agree as printed.
  const auto saved = read_lines(folder / kinds[4]);
  ASSERT_EQ(saved.size(), recon.rows.size() + 1);
  const float dt = nlohmann::json::parse(file_text(folder / "summary.json"))["series"][0]["dt"];
  EXPECT_NEAR(dt, e.dt, 1e-6f);
  const std::size_t time = recon.column("time"), sum = recon.column("sum"),
                    anomaly = recon.column("anomaly");
  ASSERT_LT(sum, recon.header.size());
  for (std::size_t i = 0; i < recon.rows.size(); ++i) {
    const float elapsed = static_cast<float>(i) * dt;
    EXPECT_EQ(
        textio::free_line({static_cast<double>(elapsed), static_cast<double>(recon.rows[i][sum]),
                           static_cast<double>(recon.rows[i][anomaly])}),
        saved[i + 1])
        << i;
  }
  EXPECT_EQ(recon.rows.front()[time], e.first_time);
  EXPECT_NEAR(recon.rows.back()[time] - recon.rows.front()[time],
              static_cast<float>(recon.rows.size() - 1) * e.dt, 1e-3);
  fs::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, DialogueAgreement,
    ::testing::Values(
        Example{example("sunspots.dat"), {"--layout", "single"}, "3\n", "sunspots", 1700.0f, 1.0f},
        Example{example("nino12.tsf"),
                {"--layout", "monthly", "--skip", "3", "--per-line", "12", "--multiplier", "0.01"},
                "6\n3\n12\n0.01\n",
                "nino12",
                1950.0f,
                1.0f / 12.0f}),
    [](const ::testing::TestParamInfo<Example>& info) {
      return info.param.stem == "sunspots" ? std::string("Sunspots") : std::string("Nino12");
    });

}  // namespace
}  // namespace quorvane::cli
