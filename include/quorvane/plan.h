// A spectrum plan: what the spectra of many series of one length and step
// share, computed once. Its tapers are solved when the plan is made, and
// each call reuses work memory of earlier calls instead of mapping and
// zeroing it afresh; the results are those of spectrum(series, settings).
//
//   auto plan = quorvane::SpectrumPlan::make(1024, 1.0, settings);
//   for (const quorvane::Series& cell : cells) {
//     auto result = quorvane::spectrum(*plan, cell);
//     ...
//   }
#pragma once

#include <functional>
#include <memory>

#include "quorvane/series.h"
#include "quorvane/settings.h"
#include "quorvane/spectrum.h"
#include "quorvane/status.h"

namespace quorvane {

namespace api {
struct PlanRun;
}

class SpectrumPlan {
 public:
  // The plan of series of `length` values sampled every `dt`, analysed with
  // `settings`. Refused, with the message of spectrum(): settings it would
  // refuse for such a series, and settings that give such a series an
  // analysis other than the evenly spaced one (Sampling::gaps or uneven),
  // whose tapers belong to each record's own times.
  static Result<SpectrumPlan> make(int length, double dt = 1.0, const Settings& settings = {});

  SpectrumPlan();  // an empty plan, which every call refuses
  ~SpectrumPlan();
  SpectrumPlan(SpectrumPlan&&) noexcept;
  SpectrumPlan& operator=(SpectrumPlan&&) noexcept;

  int length() const;
  double dt() const;
  const Settings& settings() const;

 private:
  friend Result<Spectrum> spectrum(const SpectrumPlan& plan, const Series& series,
                                   const std::function<bool()>& cancelled);
  friend struct api::PlanRun;
  static Result<SpectrumPlan> make_unguarded(int length, double dt, const Settings& settings);
  struct State;
  std::unique_ptr<State> state_;
};

// spectrum(series, plan.settings()), bit for bit, with the plan's tapers and
// memory. Refuses a series whose length differs from the plan's, whose step
// differs from it by more than 1e-4 of a step, or whose times have gaps or
// uneven steps. `cancelled`, when given, stands for Settings::cancelled of
// this call. Safe to call from several threads at once on one plan: each
// concurrent call takes its own work memory.
Result<Spectrum> spectrum(const SpectrumPlan& plan, const Series& series,
                          const std::function<bool()>& cancelled = {});

}  // namespace quorvane
