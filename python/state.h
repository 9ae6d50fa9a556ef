// The pickled state of the results: each result's fields listed once, in
// `fields`, and walked by a Saver into a tuple of Python objects or by a
// Loader back from one, so that the two directions cannot disagree. Arrays
// of numbers travel as bytes (exact and compact); settings as the keywords
// they are given by, which read back to the same values.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "python/bindings.h"

namespace quorvane::python {

template <class A> void fields(A& a, SamplingSummary& s) {
  a(s.kind, s.method, s.median_step, s.missing, s.reversed, s.tolerance, s.largest_offset);
}
template <class A> void fields(A& a, Peak& p) {
  a(p.frequency, p.period, p.significance, p.ratio, p.F, p.trend, p.global_significance,
    p.line_frequency, p.line_F, p.line_significance, p.line_frequency_sd);
}
template <class A> void fields(A& a, Track& t) {
  a(t.time, t.frequency, t.period, t.F, t.F_significance, t.ratio, t.significance);
}
template <class A> void fields(A& a, CoherentMaximum& m) {
  a(m.frequency, m.coherence, m.coherence_lower, m.coherence_upper, m.phase, m.phase_lower,
    m.phase_upper, m.level);
}
template <class A> void fields(A& a, CoherenceSettings& c) {
  a(c.resolution, c.tapers, c.band, c.pad, c.estimate, c.concentrations, c.significance,
    c.surrogates, c.seed, c.jobs);
}
template <class A> void fields(A& a, EmptyWindow& w) { a(w.window, w.time, w.samples, w.reason); }
template <class A> void fields(A& a, Series& s) { a(s.name, s.times, s.values); }
template <class A> void fields(A& a, Spectrum& s) {
  a(s.name, s.frequency, s.period, s.estimate, s.reshaped, s.harmonic, s.median, s.background,
    s.F, s.levels, s.F_levels, s.global_levels, s.jackknife_lower, s.jackknife_upper,
    s.bandwidth, s.rho, s.dt, s.length, s.sampling, s.peaks, s.settings, s.used, s.notes);
}
template <class A> void fields(A& a, Coherence& c) {
  a(c.name_a, c.name_b, c.frequency, c.period, c.coherence, c.coherence_lower, c.coherence_upper,
    c.phase, c.phase_lower, c.phase_upper, c.gain, c.spectrum_a, c.spectrum_b, c.levels,
    c.montecarlo, c.coherent, c.first_time, c.last_time, c.length, c.dt, c.bandwidth, c.rho_a,
    c.rho_b, c.used, c.method, c.sampling_a, c.sampling_b, c.length_a, c.length_b,
    c.persistence_a, c.persistence_b, c.band_wide);
}
template <class A> void fields(A& a, Evolutive& e) {
  a(e.name, e.time, e.frequency, e.power, e.F, e.ratio, e.tracks, e.window, e.step, e.dt,
    e.bandwidth, e.tracks_level, e.used, e.method, e.empty, e.min_samples, e.notes);
}

template <class T> inline constexpr bool kNumber = std::is_arithmetic_v<T> || std::is_enum_v<T>;

class Saver {
 public:
  template <class... T> void operator()(const T&... values) { (save(values), ...); }
  py::list items;

 private:
  template <class T> void save(const T& v) { items.append(encode(v)); }
  template <class T> static py::object encode(const T& v) {
    if constexpr (std::is_enum_v<T>) return py::int_(static_cast<int>(v));
    else if constexpr (kNumber<T> || std::is_same_v<T, std::string>) return py::cast(v);
    else if constexpr (std::is_same_v<T, Settings>) return settings_dict(v);
    else if constexpr (std::is_same_v<T, Band>) return py::make_tuple(v.low, v.high);
    else return compound(v);
  }
  template <class T> static py::object compound(const std::optional<T>& v) {
    return v ? encode(*v) : py::none();
  }
  template <class T, std::size_t N> static py::object compound(const std::array<T, N>& v) {
    py::list out;
    for (const T& x : v) out.append(encode(x));
    return out;
  }
  template <class T> static py::object compound(const std::vector<T>& v) {
    if constexpr (kNumber<T>) {
      return py::bytes(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
    } else {
      py::list out;
      for (const T& x : v) out.append(encode(x));
      return out;
    }
  }
  template <class T> static py::object compound(const T& v) {
    Saver inner;
    fields(inner, const_cast<T&>(v));  // only read
    return inner.items;
  }
};

class Loader {
 public:
  explicit Loader(py::sequence items) : items_(std::move(items)) {}
  template <class... T> void operator()(T&... values) { (load(values), ...); }
  bool done() const { return next_ == items_.size(); }

 private:
  template <class T> void load(T& v) {
    if (next_ >= items_.size()) throw py::value_error("pickled state: too few fields");
    decode(items_[next_++], v);
  }
  template <class T> static void decode(py::handle h, T& v) {
    if constexpr (std::is_enum_v<T>) v = static_cast<T>(h.cast<int>());
    else if constexpr (kNumber<T> || std::is_same_v<T, std::string>) v = h.cast<T>();
    else if constexpr (std::is_same_v<T, Settings>)
      v = settings_of(py::reinterpret_borrow<py::kwargs>(h), "pickled settings");
    else if constexpr (std::is_same_v<T, Band>) {
      const auto pair = h.cast<py::tuple>();
      v = Band{pair[0].cast<double>(), pair[1].cast<double>()};
    } else compound(h, v);
  }
  template <class T> static void compound(py::handle h, std::optional<T>& v) {
    if (h.is_none()) return v.reset();
    T x{};
    decode(h, x);
    v = x;
  }
  template <class T, std::size_t N> static void compound(py::handle h, std::array<T, N>& v) {
    const auto list = h.cast<py::sequence>();
    if (list.size() != N) throw py::value_error("pickled state: an array of another size");
    for (std::size_t i = 0; i < N; ++i) decode(list[i], v[i]);
  }
  template <class T> static void compound(py::handle h, std::vector<T>& v) {
    if constexpr (kNumber<T>) {
      const std::string bytes = h.cast<std::string>();
      if (bytes.size() % sizeof(T) != 0) throw py::value_error("pickled state: a cut array");
      v.resize(bytes.size() / sizeof(T));
      if (!v.empty()) std::memcpy(v.data(), bytes.data(), bytes.size());
    } else {
      const auto list = h.cast<py::sequence>();
      v.resize(list.size());
      for (std::size_t i = 0; i < v.size(); ++i) decode(list[i], v[i]);
    }
  }
  template <class T> static void compound(py::handle h, T& v) {
    Loader inner(h.cast<py::sequence>());
    fields(inner, v);
    if (!inner.done()) throw py::value_error("pickled state: too many fields");
  }
  py::sequence items_;
  std::size_t next_ = 0;
};

// py::pickle for class T: its fields, then the attributes Python code set on
// the object (such as the unit of its times).
template <class T> auto pickled() {
  return py::pickle(
      [](py::object self) {
        Saver out;
        fields(out, const_cast<T&>(self.cast<const T&>()));  // only read
        return py::make_tuple(out.items, self.attr("__dict__"));
      },
      [](const py::tuple& state) {
        if (state.size() != 2) throw py::value_error("pickled state: not a quorvane result");
        T value;
        Loader in(state[0].cast<py::sequence>());
        fields(in, value);
        if (!in.done()) throw py::value_error("pickled state: too many fields");
        return std::make_pair(std::move(value), state[1].cast<py::dict>());
      });
}

}  // namespace quorvane::python
