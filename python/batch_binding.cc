// The spectra of a block of series as numpy arrays (quorvane._batch builds
// the Python face on it): one call into the library with the GIL released,
// and the library's vectors handed to numpy without a copy.
#include <memory>
#include <span>

#include "python/bindings.h"

namespace quorvane::python {

namespace {

const char* kBatchDoc = R"(The spectra of a block of series (used by quorvane._batch).

_batch_spectra(values, time, jobs, **settings): `values` a 2-D float32
array, one series of len(time) values per row, all at `time`; settings as
for quorvane.spectrum. Returns a dict of numpy arrays (rows by frequency,
and one value per row for the peak maps and band-wide p-values) and the
block's scalars. Rows entirely NaN are left NaN.)";

// A numpy array of `shape` over the vector, which the array then owns.
py::array_t<float> owned(std::vector<float>&& values, std::vector<py::ssize_t> shape) {
  auto* kept = new std::vector<float>(std::move(values));
  py::capsule free_when_done(kept, [](void* p) { delete static_cast<std::vector<float>*>(p); });
  return py::array_t<float>(shape, kept->data(), free_when_done);
}

}  // namespace

void bind_batch(py::module_& m) {
  m.def(
      "_batch_spectra",
      [](const py::array_t<float, py::array::c_style | py::array::forcecast>& values,
         const py::array_t<double, py::array::c_style | py::array::forcecast>& time, int jobs,
         const py::kwargs& keywords) {
        if (values.ndim() != 2 || time.ndim() != 1 || values.shape(1) != time.shape(0))
          throw py::value_error("values must be 2-D with one row of len(time) values per series");
        const Settings settings = settings_of(keywords, "stacked");
        const auto count = static_cast<int>(values.shape(0));
        const std::span<const float> block(values.data(), static_cast<std::size_t>(values.size()));
        const std::span<const double> times(time.data(), static_cast<std::size_t>(time.size()));
        SignalWatch watch;
        Result<BatchSpectra> result = [&] {
          py::gil_scoped_release unlocked;
          return batch_spectra(block, count, times, settings, jobs, watch.callback());
        }();
        watch.raise_if_raised();
        BatchSpectra b = value_or_raise(std::move(result));
        const auto nf = static_cast<py::ssize_t>(b.frequency.size());
        const std::vector<py::ssize_t> rows{count, nf}, maps{count};
        py::dict out;
        out["frequency"] = owned(std::move(b.frequency), {nf});
        out["estimate"] = owned(std::move(b.estimate), rows);
        out["background"] = owned(std::move(b.background), rows);
        out["F"] = owned(std::move(b.F), rows);
        for (std::size_t k = 0; k < b.levels.size(); ++k)
          out[py::str("level{:g}").attr("format")(kLevelPercents[k])] =
              owned(std::move(b.levels[k]), rows);
        out["peak_frequency"] = owned(std::move(b.peak_frequency), maps);
        out["peak_ratio"] = owned(std::move(b.peak_ratio), maps);
        out["peak_significance"] = owned(std::move(b.peak_significance), maps);
        out["p_value"] = owned(std::move(b.band_p_value), maps);
        out["bandwidth"] = b.bandwidth;
        out["dt"] = b.dt;
        out["independent"] = b.independent;
        out["tapers"] = b.tapers;
        out["method"] = b.method;
        out["sampling"] = b.sampling;
        out["settings"] = settings_dict(settings);
        out["used"] = settings_dict(b.used);
        return out;
      },
      py::arg("values"), py::arg("time"), py::arg("jobs") = 1, kBatchDoc);
  m.def(
      "_band_wide_ratio",
      [](double alpha, double independent, int tapers) {
        if (!(alpha > 0.0 && alpha < 1.0) || !(independent >= 1.0) || tapers < 1)
          throw py::value_error("alpha must lie between 0 and 1, independent be 1 or more and "
                                "tapers positive");
        return band_wide_ratio(alpha, independent, tapers);
      },
      py::arg("alpha"), py::arg("independent"), py::arg("tapers"),
      "The ratio to the background that noise exceeds anywhere among `independent` "
      "frequencies with chance `alpha` (chi-square with 2 * tapers degrees of freedom).");
}

}  // namespace quorvane::python
