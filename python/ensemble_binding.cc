// quorvane.ensemble, the spectrum of a record over an age ensemble, as an
// xarray Dataset; and the two generated age models as arrays of members.
#include <pybind11/stl.h>

#include "python/bindings.h"

namespace quorvane::python {

namespace {

py::array_t<double> ages_array(const AgeModel& model) {
  py::array_t<double> out({model.members, model.samples});
  std::copy(model.ages.begin(), model.ages.end(), out.mutable_data());
  return out;
}

template <class T>
py::array_t<T> copied(const std::vector<T>& values) {
  return py::array_t<T>(values.size(), values.data());
}

py::array_t<float> matrix(const std::vector<float>& values, std::size_t rows, std::size_t columns) {
  py::array_t<float> out({rows, columns});
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

// A value an attribute of a netCDF file can hold: None as "default",
// flags as 0 or 1, pairs as lists.
py::object attribute(py::handle value) {
  if (value.is_none()) return py::str("default");
  if (py::isinstance<py::bool_>(value)) return py::int_(value.cast<bool>() ? 1 : 0);
  if (py::isinstance<py::tuple>(value)) return py::list(py::reinterpret_borrow<py::object>(value));
  return py::reinterpret_borrow<py::object>(value);
}

py::object dataset(const Ensemble& e, double agreement) {
  const py::module_ xarray = py::module_::import("xarray");
  py::dict variables;
  const auto on_frequency = [&](const char* name, const std::vector<float>& values) {
    variables[name] = py::make_tuple("frequency", copied(values));
  };
  std::vector<float> period(e.frequency.size());
  for (std::size_t i = 0; i < period.size(); ++i) period[i] = 1.0f / e.frequency[i];
  on_frequency("period", period);
  on_frequency("estimate_q2_5", e.q025);
  on_frequency("estimate_q25", e.q25);
  on_frequency("estimate_median", e.median);
  on_frequency("estimate_q75", e.q75);
  on_frequency("estimate_q97_5", e.q975);
  on_frequency("background_median", e.background);
  on_frequency("fraction_above_90", e.exceed90);
  on_frequency("fraction_above_95", e.exceed95);
  on_frequency("fraction_above_99", e.exceed99);
  on_frequency("fraction_F_95", e.f95);
  on_frequency("fraction_F_99", e.f99);
  std::vector<float> frequency, line_period, lower, upper, spread, fraction;
  std::vector<int> members;
  for (const EnsembleLine& line : e.lines) {
    frequency.push_back(line.frequency);
    line_period.push_back(line.period);
    lower.push_back(line.lower);
    upper.push_back(line.upper);
    spread.push_back(line.spread);
    members.push_back(line.members);
    fraction.push_back(line.fraction);
  }
  const auto on_line = [&](const char* name, py::object values) {
    variables[name] = py::make_tuple("line", values);
  };
  on_line("line_frequency", copied(frequency));
  on_line("line_period", copied(line_period));
  on_line("line_frequency_q2_5", copied(lower));
  on_line("line_frequency_q97_5", copied(upper));
  on_line("line_frequency_sd", copied(spread));
  on_line("line_members", copied(members));
  on_line("line_fraction", copied(fraction));
  py::dict coords;
  coords["frequency"] = copied(e.frequency);
  if (!e.member_power.empty()) {
    const std::size_t rows = e.member.size(), columns = e.frequency.size();
    coords["member"] = copied(e.member);
    variables["member_estimate"] =
        py::make_tuple(py::make_tuple("member", "frequency"), matrix(e.member_power, rows, columns));
    variables["member_background"] = py::make_tuple(py::make_tuple("member", "frequency"),
                                                    matrix(e.member_background, rows, columns));
    variables["member_F"] =
        py::make_tuple(py::make_tuple("member", "frequency"), matrix(e.member_F, rows, columns));
  }
  py::dict attrs;
  for (const auto& [key, value] : settings_dict(e.used)) attrs[key] = attribute(value);
  attrs["name"] = e.name;
  attrs["members"] = e.members;
  attrs["refused_members"] = e.refused;
  attrs["span"] = e.span;
  attrs["dt"] = e.dt;
  attrs["bandwidth"] = e.bandwidth;
  attrs["lines_level"] = e.lines_level;
  attrs["agreement"] = agreement;
  py::list notes;
  for (const auto& note : e.notes) notes.append(note);
  attrs["notes"] = py::str("\n").attr("join")(notes);
  return xarray.attr("Dataset")(variables, py::arg("coords") = coords, py::arg("attrs") = attrs);
}

}  // namespace

void bind_ensemble(py::module_& m) {
  m.def(
      "ensemble",
      [](py::handle values, py::array_t<double, py::array::c_style | py::array::forcecast> ages,
         const std::string& name, double agreement, bool members, const py::kwargs& keywords) {
        Settings settings = settings_of(keywords, "ensemble");
        if (ages.ndim() != 2)
          throw py::value_error("ages must be a 2-D array: members by samples");
        AgeModel model;
        model.members = static_cast<std::size_t>(ages.shape(0));
        model.samples = static_cast<std::size_t>(ages.shape(1));
        model.ages.assign(ages.data(), ages.data() + ages.size());
        const std::vector<float> y = py::cast<std::vector<float>>(values);
        SignalWatch watch;
        settings.cancelled = watch.callback();
        EnsembleSettings options;
        options.agreement = agreement;
        options.members = members;
        Result<Ensemble> result = [&] {
          py::gil_scoped_release unlocked;
          return quorvane::ensemble(name, y, model, settings, options);
        }();
        watch.raise_if_raised();
        return dataset(value_or_raise(std::move(result)), agreement);
      },
      py::arg("values"), py::arg("ages"), py::kw_only(), py::arg("name") = "",
      py::arg("agreement") = 0.5, py::arg("members") = false,
      R"(The spectrum of a record under the uncertainty of its age model, as
`quorvane ensemble` computes it, as an xarray.Dataset.

values: one value per sample; ages: a 2-D array, members by samples, each
row one chronology (strictly increasing; rows that are not are left out and
counted in the attribute refused_members). Every member is analysed on its
own ages with the multitaper Lomb-Scargle method, all on the frequency grid
of the span they share, with the keywords of quorvane.spectrum (jobs:
threads sharing the members; the results do not depend on it; the band
defaults to 0 up to the Nyquist frequency of the coarsest member's median
step).

The Dataset holds on `frequency` the quantiles of the estimate over the
members (estimate_q2_5 ... estimate_q97_5), the median background and the
fractions of members whose estimate passes its own 90, 95, 99 % level and
whose F statistic passes its 95, 99 % level; on `line` the F-test's lines
found in at least `agreement` of the members, with the spread of their
frequency; with members=True every member's estimate, background and F on
a `member` dimension (the 1-based numbers of the rows analysed). Raises
ValueError for ages of another number of samples than values, no member
left, Monte Carlo levels or the jackknife.)");

  m.def(
      "counted_ages",
      [](const std::vector<double>& counted, double miscount, std::size_t members,
         std::uint64_t seed) {
        return ages_array(
            value_or_raise(counted_age_model(counted, miscount, miscount, members, seed)));
      },
      py::arg("counted"), py::kw_only(), py::arg("miscount") = 0.05, py::arg("members") = 1000,
      py::arg("seed") = 1,
      R"(Members of the banded age model of a layer-counted chronology, as
`quorvane ensemble --age-model counted` draws them: a 2-D array, members by
samples. Each step between samples independently gains one unit of age
(a missed layer) and loses one (a doubled layer) with probability
`miscount` each; the same seed gives the same members.)");

  m.def(
      "tiepoint_ages",
      [](const std::vector<double>& depth, const std::vector<double>& tie_depth,
         const std::vector<double>& tie_age, const std::vector<double>& tie_sigma,
         std::size_t members, std::uint64_t seed) {
        return ages_array(value_or_raise(
            tiepoint_age_model(depth, tie_depth, tie_age, tie_sigma, members, seed)));
      },
      py::arg("depth"), py::arg("tie_depth"), py::arg("tie_age"), py::arg("tie_sigma"),
      py::kw_only(), py::arg("members") = 1000, py::arg("seed") = 1,
      R"(Members of a tie-point age model, as `quorvane ensemble --age-model
tiepoints` draws them: each tie point's age drawn from the normal
distribution of its age and 1-sigma error, the draws sorted, and the ages
at `depth` interpolated linearly between them (the end segments extended).
A 2-D array, members by samples.)");
}

}  // namespace quorvane::python
