// A whole analysis: spectrum run, signals chosen in the dialog, the
// reconstruction drawn and its plot data saved.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/program.h"
#include "recon/recon.h"
#include "spectral/estimators/even.h"
#include "spectral/stages/peaks.h"
#include "tests/recon/recon_test_support.h"

namespace quorvane::driver {
namespace {

namespace fs = std::filesystem;

struct SavedSession {
  int status = 0;
  std::string out;
  std::vector<std::vector<double>> rows;  // the data lines of the saved file
  std::string header;
};

// Runs `script` (which saves the reconstruction data to the file named by the
// placeholder @FILE@) and reads the saved file back.
SavedSession run_and_read(std::string script) {
  fs::path file = fs::temp_directory_path() /
                  ("quorvane_recon_" + std::to_string(::getpid()) + ".txt");
  script.replace(script.find("@FILE@"), 6, file.string());
  std::istringstream in(script);
  std::ostringstream out, err;
  SavedSession session;
  session.status = run_quorvane(in, out, err);
  session.out = out.str();
  std::ifstream saved(file);
  std::getline(saved, session.header);
  for (std::string line; std::getline(saved, line);) {
    std::istringstream fields(line);
    std::vector<double> row;
    for (double v; fields >> v;) row.push_back(v);
    session.rows.push_back(row);
  }
  fs::remove(file);
  return session;
}

TEST(ReconstructionRun, SavedSignalIsTheSumOfTheSelectedReconstructions) {
  const std::string file = std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat";
  // Spectrum run (four plots), then entries 1 (the trend), 2 and 3, least
  // misfit, save the reconstruction plot's data, quit.
  SavedSession session = run_and_read(file + "\n3\n1\nf\n0\nc\nc\nc\nc\n5\n1\n2\n3\n0\n0\n"
                                      "s\n@FILE@\nc\n8\n");
  ASSERT_EQ(session.status, 0);
  EXPECT_EQ(session.header, " ff           signal      a");

  // The same reconstructions computed directly.
  const std::vector<float> y = recon::testing::sunspots();
  const int npts = static_cast<int>(y.size());
  spectral::SpecSettings settings;
  settings.npts = npts;
  settings.fsmooth = 0.1f;
  spectral::SpecResults results;
  ASSERT_TRUE(spectral::spec(y, settings, results).ok);
  spectral::PeakList peaks = spectral::findpeaks(Signal::both, results);
  ASSERT_GE(peaks.sigfreq.size(), 3u);
  const float bndwdth = 4.0f / static_cast<float>(npts);
  ASSERT_LT(peaks.sigfreq[0], bndwdth);  // entry 1 is the trend
  std::vector<float> sum(y.size(), 0.0f), rsig(y.size(), 0.0f);
  for (int entry = 0; entry < 3; ++entry) {
    std::fill(rsig.begin(), rsig.end(), 0.0f);
    ASSERT_TRUE(recon::recon(y, 3, 2, 1.0f, npts, bndwdth, peaks.sigfreq[std::size_t(entry)], 0,
                             rsig)
                    .ok);
    for (std::size_t i = 0; i < y.size(); ++i) sum[i] += rsig[i];
  }

  ASSERT_EQ(session.rows.size(), y.size());
  float mean = 0.0f;
  for (float v : y) mean += v;
  mean /= static_cast<float>(npts);
  double largest = 0.0;
  for (float v : sum) largest = std::max(largest, std::abs(double(v)));
  for (std::size_t i = 0; i < y.size(); ++i) {
    ASSERT_EQ(session.rows[i].size(), 3u) << i;
    EXPECT_DOUBLE_EQ(session.rows[i][0], double(i));  // elapsed years
    EXPECT_NEAR(session.rows[i][1], sum[i], 1e-6 * largest) << i;
    EXPECT_NEAR(session.rows[i][2], y[i] - mean, 1e-3) << i;
  }
}

TEST(ReconstructionRun, ContinuingAfterTheDialogRepeatsTheReconstruction) {
  const std::string file = std::string(QUORVANE_SOURCE_DIR) + "/examples/sunspots.dat";
  SavedSession session = run_and_read(file + "\n3\n1\nf\n0\nc\nc\nc\nc\n5\n2\n0\n1\nc\n"
                                      "0\ns\n@FILE@\nc\n8\n");
  ASSERT_EQ(session.status, 0);
  // The second answer 0 drew the reconstruction again, and its data were saved.
  EXPECT_EQ(session.rows.size(), 309u);
  std::size_t menus = 0;
  for (std::size_t at = 0; (at = session.out.find("plot options menu", at)) != std::string::npos;
       ++at)
    ++menus;
  EXPECT_EQ(menus, 4u + 1u + 2u);  // four spectrum plots, two reconstructions (one saved)
}

}  // namespace
}  // namespace quorvane::driver
