#include "spectral/numerics/gap_tapers.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory_resource>
#include <numbers>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "spectral/numerics/fft.h"
#include "spectral/numerics/lapack_tridiagonal.h"
#include "spectral/numerics/slepian_eigen.h"
#include "spectral/numerics/tapers.h"

namespace quorvane::spectral {

namespace {

constexpr int kMaxTapers = 8;
// The most tapers the ordinary solver's own path computes.
constexpr std::size_t kFastPathTapers = 16;
// Vectors of the block beyond the wanted ones and the Shannon number: the
// first eigenvalue outside the block, which sets the rate, then lies well
// down the fall of the eigenvalues from 1 to 0.
constexpr std::size_t kGuardVectors = 4;
// Residual |B q - theta q| of a unit Ritz vector at which it counts as an
// eigenvector: its angle to the eigenvector is this over the gap to the
// eigenvalues outside its cluster, far below single precision.
constexpr double kResidualTolerance = 1e-10;
// Ritz values closer than this form a cluster whose basis the tridiagonal
// matrix decides: the operator's rounding (about 1e-15) over the gap bounds
// how well the sinc kernel alone fixes each vector.
constexpr double kClusterWidth = 1e-8;
constexpr int kMaxIterations = 60;
// Chebyshev degrees per iteration: at most kMaxDegree, and low enough that
// the best and the last wanted vector grow by no more than kMaxSpread
// against each other, so that orthogonalisation keeps the smaller one.
constexpr int kMaxDegree = 10;
constexpr double kMaxSpread = 1e8;

// Doubles the code writes before it reads, taken from memory without the
// zero fill of a vector: the blocks and transform arrays of a long record
// run to hundreds of megabytes, and filling them would be a pass over
// memory of its own.
class Doubles {
 public:
  Doubles(std::size_t count, std::pmr::memory_resource* memory)
      : memory_(memory),
        count_(count),
        data_(static_cast<double*>(memory->allocate(count * sizeof(double), alignof(double)))) {}
  Doubles(Doubles&& other) noexcept
      : memory_(other.memory_), count_(std::exchange(other.count_, 0)),
        data_(std::exchange(other.data_, nullptr)) {}
  Doubles(const Doubles&) = delete;
  Doubles& operator=(const Doubles&) = delete;
  Doubles& operator=(Doubles&&) = delete;
  ~Doubles() {
    if (data_ != nullptr) memory_->deallocate(data_, count_ * sizeof(double), alignof(double));
  }
  double* data() { return data_; }
  const double* data() const { return data_; }
  std::span<double> span() { return {data_, count_}; }

 private:
  std::pmr::memory_resource* memory_;
  std::size_t count_;
  double* data_;
};

// The sinc kernel restricted to the samples present, applied through the
// transform: the vectors, zero-filled to the grid and padded to L >= 2 N,
// are transformed, multiplied by the kernel's transform (real, the kernel
// being even) and transformed back, which is the Toeplitz product on the
// first N positions. Two real vectors go through one complex transform. The
// kernel itself is read only; each thread that applies it brings its own
// transform arrays.
class SincKernel {
 public:
  // The arrays one application transforms in: the forward transform into
  // x, the product with the kernel's transform, in the order the backward
  // transform takes it, into y.
  struct Workspace {
    Workspace(std::size_t length, std::pmr::memory_resource* memory)
        : xr(length, memory), xi(length, memory), yr(length, memory), yi(length, memory) {}
    Doubles xr, xi, yr, yi;
  };

  // With two_threads, a second thread takes half of the kernel's own
  // transform, which is made in scratch (a workspace of this length).
  SincKernel(std::span<const std::int64_t> index, std::size_t npts, double w,
             std::pmr::memory_resource* memory, bool two_threads, Workspace& scratch)
      : index_(index),
        npts_(npts),
        length_(transform_size(npts)),
        plan_(length_, memory),
        sample_at_(npts, -1, memory),
        spectrum_(length_, memory) {
    for (std::size_t j = 0; j < index.size(); ++j) {
      sample_at_[static_cast<std::size_t>(index[j])] = static_cast<std::int32_t>(j);
    }
    const std::span<double> re = scratch.xr.span(), im = scratch.xi.span();
    const double pi = std::numbers::pi;
    plan_.transform_real(
        length_,
        [&](std::size_t t) {
          const std::size_t lag = t < npts ? t : length_ - t;
          if (lag == 0) return 2.0 * w;
          if (lag >= npts) return 0.0;
          const double m = static_cast<double>(lag);
          return std::sin(2.0 * pi * w * m) / (pi * m);
        },
        re, im, two_threads);
    // The inverse transform's 1 / L goes into the kernel once.
    for (std::size_t f = 0; f < length_; ++f) spectrum_[f] = re[f] / static_cast<double>(length_);
  }

  // out_a = B a and, when b is given, out_b = B b; vectors of one value per
  // sample present.
  //
  // Both transforms place their input in bit-reversed order tile by tile
  // (FftPlan::transform_complex), where a move value by value would jump
  // across the whole of arrays far larger than the caches. The product
  // with the kernel's transform is formed as the backward transform reads
  // its input: each value multiplied where it lies, then moved.
  void apply(Workspace& work, const double* a, const double* b, double* out_a,
             double* out_b) const {
    const std::int32_t* sample_at = sample_at_.data();
    plan_.transform_complex(
        npts_,
        [&](std::size_t t, double& re, double& im) {
          const std::int32_t j = sample_at[t];
          re = j >= 0 ? a[j] : 0.0;
          im = j >= 0 && b != nullptr ? b[j] : 0.0;
        },
        work.xr.span(), work.xi.span());
    const double* spectrum = spectrum_.data();
    const double* xr = work.xr.data();
    const double* xi = work.xi.data();
    plan_.transform_complex(
        length_,
        [&](std::size_t f, double& re, double& im) {
          re = xr[f] * spectrum[f];
          im = xi[f] * spectrum[f];
        },
        work.yr.span(), work.yi.span());
    // The forward transform read backwards is the inverse:
    // sum_f Y(f) exp(+2 pi i f (L - t) / L) = sum_f Y(f) exp(-2 pi i f t / L).
    const std::size_t mask = length_ - 1;
    for (std::size_t j = 0; j < index_.size(); ++j) {
      const std::size_t at = (length_ - static_cast<std::size_t>(index_[j])) & mask;
      out_a[j] = work.yr.data()[at];
      if (out_b != nullptr) out_b[j] = work.yi.data()[at];
    }
  }

  static std::size_t transform_size(std::size_t npts) {
    std::size_t length = 1;
    while (length < 2 * npts) length *= 2;
    return length;
  }

 private:
  std::span<const std::int64_t> index_;
  std::size_t npts_;
  std::size_t length_;
  FftPlan plan_;
  // The sample at each grid position, -1 where none was taken.
  std::pmr::vector<std::int32_t> sample_at_;
  std::pmr::vector<double> spectrum_;
};

// What one thread needs to apply the kernel to vector pairs: the transform
// arrays and room for the filter's vectors (four: two for each vector of
// the pair).
struct PairWork {
  PairWork(std::size_t length, std::size_t m, std::pmr::memory_resource* memory)
      : transform(length, memory), vectors(4 * m, memory) {}
  SincKernel::Workspace transform;
  Doubles vectors;
};

// Runs work(slot, part) for every part 0 .. parts - 1 on up to `threads`
// threads, slot naming the thread (0 the calling one). Each part's
// arithmetic must be its own, so that which thread takes which part changes
// nothing in the result. An exception from any thread is rethrown here once all
// have finished; without another thread the ones running take its share.
template <typename Work>
void for_each_part(std::size_t parts, std::size_t threads, const Work& work) {
  threads = std::max<std::size_t>(1, std::min(threads, parts));
  std::atomic<std::size_t> next{0};
  std::vector<std::exception_ptr> failures(threads);
  auto loop = [&](std::size_t slot) {
    try {
      for (std::size_t part = next.fetch_add(1); part < parts; part = next.fetch_add(1)) {
        work(slot, part);
      }
    } catch (...) {
      failures[slot] = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> helpers;
    for (std::size_t slot = 1; slot < threads; ++slot) {
      try {
        helpers.emplace_back(loop, slot);
      } catch (const std::system_error&) {
        break;
      }
    }
    loop(0);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

// b vectors of m values, stored vector by vector: value r of vector i at
// data[i * m + r], so that the kernel reads and writes each vector where it
// lies and orthogonalisation reads only the vectors it needs. Every value
// is written before it is read.
struct Block {
  Block(std::size_t m, std::size_t b, std::pmr::memory_resource* memory)
      : m(m), b(b), data(m * b, memory) {}
  std::size_t m, b;
  Doubles data;
  double* column(std::size_t i) { return data.data() + i * m; }
  const double* column(std::size_t i) const { return data.data() + i * m; }
  double& at(std::size_t r, std::size_t i) { return column(i)[r]; }
  double at(std::size_t r, std::size_t i) const { return column(i)[r]; }
};

// Rows are taken in stretches of this many; a sum over the rows is the sum,
// in order, of each stretch's own sum in row order, however many threads
// share the stretches, so the results do not depend on the threads.
constexpr std::size_t kStretch = 16384;

// totals[0 .. width) = the sums over all rows of what add(first, last,
// partial) adds into partial (width zeros) for rows [first, last), on up to
// `threads` threads.
template <typename Add>
void stretch_sums(std::size_t rows, std::size_t width, std::size_t threads, double* totals,
                  const Add& add) {
  const std::size_t stretches = (rows + kStretch - 1) / kStretch;
  std::vector<double> partial(stretches * width, 0.0);
  for_each_part(stretches, threads, [&](std::size_t, std::size_t part) {
    add(part * kStretch, std::min(rows, (part + 1) * kStretch), partial.data() + part * width);
  });
  std::fill_n(totals, width, 0.0);
  for (std::size_t part = 0; part < stretches; ++part) {
    for (std::size_t k = 0; k < width; ++k) totals[k] += partial[part * width + k];
  }
}

// Rows of a stretch taken at a time by the column-wise loops below, so
// that the columns' pieces stay in the fast caches between the loops.
constexpr std::size_t kPiece = 512;

// Adds x[r] y[r], r in [0, n), to four running sums, row r to lane r % 4
// (n a multiple of 4 but at the end of the rows).
inline void add_products(const double* x, const double* y, std::size_t n, double* lanes) {
  double a0 = lanes[0], a1 = lanes[1], a2 = lanes[2], a3 = lanes[3];
  std::size_t r = 0;
  for (; r + 4 <= n; r += 4) {
    a0 += x[r] * y[r];
    a1 += x[r + 1] * y[r + 1];
    a2 += x[r + 2] * y[r + 2];
    a3 += x[r + 3] * y[r + 3];
  }
  if (r < n) a0 += x[r] * y[r];
  if (r + 1 < n) a1 += x[r + 1] * y[r + 1];
  if (r + 2 < n) a2 += x[r + 2] * y[r + 2];
  lanes[0] = a0, lanes[1] = a1, lanes[2] = a2, lanes[3] = a3;
}

// out[k kPiece + r] += v[r] w[k], k < kCount, r in [0, n): kCount new
// vectors from one read of v.
template <std::size_t kCount>
inline void add_scaled(double* __restrict__ out, const double* __restrict__ v, const double* w,
                       std::size_t n) {
  for (std::size_t r = 0; r < n; ++r) {
    const double x = v[r];
    for (std::size_t k = 0; k < kCount; ++k) out[k * kPiece + r] += x * w[k];
  }
}

// x[r] -= h v[r], r in [0, n).
inline void subtract_scaled(double* __restrict__ x, const double* __restrict__ v, double h,
                            std::size_t n) {
  for (std::size_t r = 0; r < n; ++r) x[r] -= h * v[r];
}

// The sum of four lanes.
inline double lane_total(const double* lanes) {
  return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

// A reproducible filler for a vector that orthogonalisation found
// dependent on the others (splitmix64 to (-1, 1)).
void fill_arbitrary(Block& q, std::size_t i, std::uint64_t seed) {
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + i;
  for (std::size_t r = 0; r < q.m; ++r) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    q.at(r, i) = static_cast<double>(z >> 11) * 0x1.0p-52 - 1.0;
  }
}

// Gram-Schmidt twice over (which keeps orthogonality to rounding whatever
// the conditioning of the block); a vector that loses nearly all of its
// length is replaced by an arbitrary one and orthogonalised again.
//
// For vector x = q_i: h = Q' x (Q the vectors before it), x -= Q h, twice,
// then x scaled to unit length. A piece of x is final once its piece is
// done, so the next sums of products take it up in the same pass. Each
// pass is shared by `threads` threads in stretches of rows. (Cholesky QR
// does this work where the block allows; this is its fallback.)
void orthonormalise(Block& q, std::size_t threads) {
  const std::size_t b = q.b;
  // Sums of one pass: the products with the vectors before i, then the
  // squares of vector i.
  std::vector<double> first(b + 1), second(b + 1), norms(1);
  for (std::size_t i = 0; i < b; ++i) {
    double* const x = q.column(i);
    // Products of a piece of x with the vectors before i, in four lanes.
    auto with_earlier = [&](std::size_t from, std::size_t to, double* lanes) {
      for (std::size_t j = 0; j < i; ++j)
        add_products(q.column(j) + from, x + from, to - from, lanes + 4 * j);
    };
    auto subtract = [&](std::size_t from, std::size_t to, const std::vector<double>& h) {
      for (std::size_t j = 0; j < i; ++j)
        subtract_scaled(x + from, q.column(j) + from, h[j], to - from);
    };
    // Sums into out[0 .. width) of what piece adds for each piece of rows.
    auto by_pieces = [&](std::size_t width, std::vector<double>& out, const auto& piece) {
      stretch_sums(q.m, width, threads, out.data(),
                   [&](std::size_t from, std::size_t to, double* sum) {
                     std::vector<double> lanes(4 * width, 0.0);
                     for (std::size_t at = from; at < to; at += kPiece)
                       piece(at, std::min(to, at + kPiece), lanes.data());
                     for (std::size_t k = 0; k < width; ++k) sum[k] += lane_total(&lanes[4 * k]);
                   });
    };
    for (std::uint64_t attempt = 0;; ++attempt) {
      by_pieces(i + 1, first, [&](std::size_t from, std::size_t to, double* lanes) {
        with_earlier(from, to, lanes);
        add_products(x + from, x + from, to - from, lanes + 4 * i);
      });
      const double before = first[i];
      by_pieces(i, second, [&](std::size_t from, std::size_t to, double* lanes) {
        subtract(from, to, first);
        with_earlier(from, to, lanes);
      });
      by_pieces(1, norms, [&](std::size_t from, std::size_t to, double* lanes) {
        subtract(from, to, second);
        add_products(x + from, x + from, to - from, lanes);
      });
      const double after = norms[0];
      if (after > 1e-20 * before && after > 0.0) break;
      fill_arbitrary(q, i, attempt + 1);
    }
    const double scale = 1.0 / std::sqrt(norms[0]);
    for_each_part((q.m + kStretch - 1) / kStretch, threads, [&](std::size_t, std::size_t part) {
      const std::size_t last = std::min(q.m, (part + 1) * kStretch);
      for (std::size_t r = part * kStretch; r < last; ++r) x[r] *= scale;
    });
  }
}

// z = B q, column pair by column pair, the pairs shared among the workers.
void apply_block(const SincKernel& kernel, const Block& q, Block& z,
                 std::pmr::vector<PairWork>& workers) {
  for_each_part((q.b + 1) / 2, workers.size(), [&](std::size_t slot, std::size_t pair_index) {
    const std::size_t i = 2 * pair_index;
    const bool pair = i + 1 < q.b;
    kernel.apply(workers[slot].transform, q.column(i), pair ? q.column(i + 1) : nullptr,
                 z.column(i), pair ? z.column(i + 1) : nullptr);
  });
}

// Multiplies the first `count` vectors of each block, starting at vector
// `first`, by the count x count matrix rotation (column c at rotation[c *
// count]): in place, each new value summed over j in order, a piece of
// rows of every vector at a time.
// Rows are independent: `threads` threads share them in stretches.
void rotate(Block& q, std::size_t first, std::size_t count, const std::vector<double>& rotation,
            std::size_t threads = 1) {
  for_each_part((q.m + kStretch - 1) / kStretch, threads, [&](std::size_t, std::size_t part) {
    std::vector<double> rotated(count * kPiece);
    const std::size_t last = std::min(q.m, (part + 1) * kStretch);
    for (std::size_t from = part * kStretch; from < last; from += kPiece) {
      const std::size_t size = std::min(last - from, kPiece);
      // Four new vectors at a time, so that each old one is read once for
      // all four.
      std::size_t c = 0;
      for (; c + 4 <= count; c += 4) {
        double* out = &rotated[c * kPiece];
        std::fill_n(out, 4 * kPiece, 0.0);
        for (std::size_t j = 0; j < count; ++j) {
          const double weights[4] = {rotation[c * count + j], rotation[(c + 1) * count + j],
                                     rotation[(c + 2) * count + j], rotation[(c + 3) * count + j]};
          add_scaled<4>(out, q.column(first + j) + from, weights, size);
        }
      }
      for (; c < count; ++c) {
        double* out = &rotated[c * kPiece];
        std::fill_n(out, size, 0.0);
        for (std::size_t j = 0; j < count; ++j)
          add_scaled<1>(out, q.column(first + j) + from, &rotation[c * count + j], size);
      }
      for (std::size_t c = 0; c < count; ++c)
        std::copy_n(&rotated[c * kPiece], size, q.column(first + c) + from);
    }
  });
}

// The n x n matrix a replaced by its symmetric part (a + a') / 2: a
// projection q' B q formed by sums of products rounds differently on either
// side of the diagonal, and the eigensolver reads one triangle only, so
// both triangles are given the same (averaged) values.
void symmetrise(std::vector<double>& a, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      const double mean = 0.5 * (a[i * n + j] + a[j * n + i]);
      a[i * n + j] = mean;
      a[j * n + i] = mean;
    }
  }
}

// The products a_i' c_j of the vectors of two blocks of the same size, at
// [i * b + j]: summed over the rows in fixed stretches, each in four lanes.
// With a and c the same block, only the products with j >= i are formed
// and mirrored.
std::vector<double> products(const Block& a, const Block& c, std::size_t threads) {
  const std::size_t b = a.b;
  const bool same = &a == &c;
  std::vector<double> out(b * b, 0.0);
  stretch_sums(a.m, b * b, threads, out.data(), [&](std::size_t from, std::size_t to, double* sum) {
    std::vector<double> lanes(4 * b * b, 0.0);
    for (std::size_t at = from; at < to; at += kPiece) {
      const std::size_t size = std::min(to - at, kPiece);
      for (std::size_t i = 0; i < b; ++i) {
        for (std::size_t j = same ? i : 0; j < b; ++j)
          add_products(a.column(i) + at, c.column(j) + at, size, &lanes[4 * (i * b + j)]);
      }
    }
    for (std::size_t k = 0; k < b * b; ++k) sum[k] += lane_total(&lanes[4 * k]);
  });
  if (same) {
    for (std::size_t i = 0; i < b; ++i) {
      for (std::size_t j = 0; j < i; ++j) out[i * b + j] = out[j * b + i];
    }
  }
  return out;
}

// Cholesky QR: q <- q R^-1 with R'R = q'q, two passes over the block where
// Gram-Schmidt takes three per vector. One round leaves q'q off the
// identity by about the unit roundoff times the condition number of q'q,
// and a second round brings it to rounding whenever the block's condition
// number is below about 1e7 (Yamamoto et al. 2015, ETNA 44:306). The
// condition number of q'q, from its eigenvalues, decides: at most 16, one
// round (as the blocks here nearly always are: their vectors come
// normalised and nearly orthogonal); up to 1e8, two; above, or should a
// factorisation fail, false, with q still spanning the same space for
// Gram-Schmidt to finish.
bool cholesky_orthonormalise(Block& q, std::size_t threads) {
  const std::size_t b = q.b;
  int rounds = 1;
  for (int round = 0; round < rounds; ++round) {
    std::vector<double> g = products(q, q, threads);
    if (round == 0) {
      std::vector<double> copy = g, values;
      if (symmetric_eigenpairs(static_cast<int>(b), copy, values) != 0) return false;
      if (!(values.front() > 1e-8 * values.back())) return false;
      if (!(values.front() * 16.0 >= values.back())) rounds = 2;
    }
    // g = R'R, R upper triangular at r[i * b + j], j >= i.
    std::vector<double> r(b * b, 0.0);
    for (std::size_t i = 0; i < b; ++i) {
      double d = g[i * b + i];
      for (std::size_t k = 0; k < i; ++k) d -= r[k * b + i] * r[k * b + i];
      if (!(d > 0.0)) return false;
      r[i * b + i] = std::sqrt(d);
      for (std::size_t j = i + 1; j < b; ++j) {
        double x = g[i * b + j];
        for (std::size_t k = 0; k < i; ++k) x -= r[k * b + i] * r[k * b + j];
        r[i * b + j] = x / r[i * b + i];
      }
    }
    // New vector c = sum_j q_j (R^-1)(j, c): column c of R^-1 at
    // rotation[c * b], by back substitution.
    std::vector<double> rotation(b * b, 0.0);
    for (std::size_t c = 0; c < b; ++c) {
      double* column = &rotation[c * b];
      for (std::size_t j = c + 1; j-- > 0;) {
        double x = j == c ? 1.0 : 0.0;
        for (std::size_t k = j + 1; k <= c; ++k) x -= r[j * b + k] * column[k];
        column[j] = x / r[j * b + j];
      }
    }
    rotate(q, 0, b, rotation, threads);
  }
  return true;
}

// Rayleigh-Ritz on the block: theta (descending) are the eigenvalues of
// q' z = q' B q, and q and z are rotated to the Ritz vectors and their
// images.
void rayleigh_ritz(Block& q, Block& z, std::vector<double>& theta, std::size_t threads) {
  const std::size_t b = q.b;
  std::vector<double> h = products(q, z, threads);
  symmetrise(h, b);
  std::vector<double> ascending;
  symmetric_eigenpairs(static_cast<int>(b), h, ascending);
  std::vector<double> rotation(b * b);
  theta.resize(b);
  for (std::size_t c = 0; c < b; ++c) {
    const std::size_t from = b - 1 - c;
    theta[c] = ascending[from];
    std::copy_n(h.begin() + static_cast<std::ptrdiff_t>(from * b), b,
                rotation.begin() + static_cast<std::ptrdiff_t>(c * b));
  }
  rotate(q, 0, b, rotation, threads);
  rotate(z, 0, b, rotation, threads);
}

// The largest |B q_i - theta_i q_i| of the first `count` Ritz vectors.
double largest_residual(const Block& q, const Block& z, const std::vector<double>& theta,
                        std::size_t count, std::size_t threads) {
  std::vector<double> ssq(count, 0.0);
  stretch_sums(q.m, count, threads, ssq.data(), [&](std::size_t from, std::size_t to, double* sum) {
    for (std::size_t r = from; r < to; ++r) {
      for (std::size_t i = 0; i < count; ++i) {
        const double d = z.at(r, i) - theta[i] * q.at(r, i);
        sum[i] += d * d;
      }
    }
  });
  double largest = 0.0;
  for (double v : ssq) largest = std::max(largest, std::sqrt(v));
  return largest;
}

// The vectors wanted: the first nwin and those clustered with the last of
// them, but never the last vector of a block smaller than the space.
std::size_t wanted_count(const std::vector<double>& theta, std::size_t nwin, std::size_t m) {
  const std::size_t b = theta.size();
  const std::size_t limit = b < m ? b - 1 : b;
  std::size_t count = std::min(nwin, limit);
  while (count < limit && theta[count - 1] - theta[count] < kClusterWidth) ++count;
  return count;
}

// q <- T_m((B - c) / c) q, c = a / 2: the Chebyshev polynomial of degree
// `degree` that stays within [-1, 1] for eigenvalues in [0, a] and grows
// fast above a. The three-term recurrence runs vector pair by vector pair;
// each step rescales the pair's two latest vectors alike, which leaves the
// direction of the result as it is and keeps the values finite. The pairs
// are shared among the workers. The first step takes B q from z, the images
// Rayleigh-Ritz rotated along with q, instead of applying the kernel again.
void chebyshev_filter(const SincKernel& kernel, Block& q, const Block& z, int degree, double a,
                      std::pmr::vector<PairWork>& workers) {
  const std::size_t m = q.m;
  const double c = a / 2.0;
  for_each_part((q.b + 1) / 2, workers.size(), [&](std::size_t slot, std::size_t pair_index) {
    double* work = workers[slot].vectors.data();
    const std::size_t i = 2 * pair_index;
    const std::size_t width = i + 1 < q.b ? 2 : 1;
    // The recurrence's two latest vectors take turns in the block's own
    // column and a work vector.
    double* previous[2] = {q.column(i), width == 2 ? q.column(i + 1) : nullptr};
    double* current[2] = {work, work + m};
    double* image[2] = {work + 2 * m, work + 3 * m};
    for (int step = 1; step <= degree; ++step) {
      const double* images[2] = {image[0], image[1]};
      if (step == 1) {
        images[0] = z.column(i);
        images[1] = width == 2 ? z.column(i + 1) : nullptr;
      } else {
        kernel.apply(workers[slot].transform, current[0], width == 2 ? current[1] : nullptr,
                     image[0], width == 2 ? image[1] : nullptr);
      }
      for (std::size_t v = 0; v < width; ++v) {
        double ssq = 0.0;
        if (step == 1) {
          for (std::size_t r = 0; r < m; ++r) {
            current[v][r] = (images[v][r] - c * previous[v][r]) / c;
            ssq += current[v][r] * current[v][r];
          }
        } else {
          for (std::size_t r = 0; r < m; ++r) {
            previous[v][r] = 2.0 * (images[v][r] - c * current[v][r]) / c - previous[v][r];
            ssq += previous[v][r] * previous[v][r];
          }
          std::swap(previous[v], current[v]);
        }
        const double scale = ssq > 0.0 ? 1.0 / std::sqrt(ssq) : 1.0;
        for (std::size_t r = 0; r < m; ++r) {
          current[v][r] *= scale;
          previous[v][r] *= scale;
        }
      }
    }
    for (std::size_t v = 0; v < width; ++v) {
      if (current[v] != q.column(i + v)) std::copy_n(current[v], m, q.column(i + v));
    }
  });
}

// The degree of the next filter: enough to bring the residual to the
// tolerance at the growth of the last wanted vector, within the limits
// above; 0 when the block cannot separate the wanted vectors further.
int filter_degree(const std::vector<double>& theta, std::size_t wanted, double a,
                  double residual) {
  const double c = a / 2.0;
  const double last = (theta[wanted - 1] - c) / c;
  const double best = (theta[0] - c) / c;
  if (!(last > 1.0 + 1e-12)) return 0;
  const double growth = std::acosh(last);
  const double spread = std::acosh(best) - growth;
  int degree = static_cast<int>(std::ceil(std::log(residual / kResidualTolerance) / growth));
  if (spread > 0.0) degree = std::min(degree, static_cast<int>(std::log(kMaxSpread) / spread));
  return std::clamp(degree, 1, kMaxDegree);
}

// Inside each cluster of the first `count` Ritz vectors, the basis that
// diagonalises the ordinary tapers' negated tridiagonal matrix T (taken on
// the grid, the missing positions holding zeros), ordered as its
// eigenvalues ascend: the order of the ordinary tapers. T commutes with the
// sinc kernel of the full grid, so without a gap this basis is that of the
// ordinary tapers. theta becomes the concentrations of the new vectors.
void settle_clusters(std::span<const std::int64_t> index, std::size_t npts, double w, Block& q,
                     std::vector<double>& theta, std::size_t count) {
  const double cs = std::cos(2.0 * kPi15 * w);
  const std::size_t m = q.m;
  for (std::size_t first = 0; first < count;) {
    std::size_t last = first + 1;
    while (last < count && theta[last - 1] - theta[last] < kClusterWidth) ++last;
    const std::size_t size = last - first;
    if (size > 1) {
      std::vector<double> g(size * size, 0.0);
      std::vector<double> tq(size);
      for (std::size_t r = 0; r < m; ++r) {
        const std::size_t at = static_cast<std::size_t>(index[r]);
        const bool left = r > 0 && index[r - 1] + 1 == index[r];
        const bool right = r + 1 < m && index[r + 1] == index[r] + 1;
        for (std::size_t i = 0; i < size; ++i) {
          double x = slepian_diagonal(npts, cs, at) * q.at(r, first + i);
          if (left) x += slepian_off_diagonal(npts, at - 1) * q.at(r - 1, first + i);
          if (right) x += slepian_off_diagonal(npts, at) * q.at(r + 1, first + i);
          tq[i] = x;
        }
        for (std::size_t i = 0; i < size; ++i) {
          for (std::size_t j = 0; j < size; ++j) g[i * size + j] += q.at(r, first + i) * tq[j];
        }
      }
      symmetrise(g, size);
      std::vector<double> values;
      symmetric_eigenpairs(static_cast<int>(size), g, values);
      rotate(q, first, size, g);
      std::vector<double> concentration(size, 0.0);
      for (std::size_t c = 0; c < size; ++c) {
        for (std::size_t j = 0; j < size; ++j) {
          concentration[c] += g[c * size + j] * g[c * size + j] * theta[first + j];
        }
      }
      std::copy(concentration.begin(), concentration.end(),
                theta.begin() + static_cast<std::ptrdiff_t>(first));
    }
    first = last;
  }
}

// +1 or -1: the sign that gives vector k of q the convention of the
// header, against `ordinary`, the ordinary taper of order k on the grid
// (sum of squares npts).
double taper_sign(std::span<const std::int64_t> index, const Block& q, std::size_t k,
                  std::span<const float> ordinary) {
  double product = 0.0;
  for (std::size_t r = 0; r < q.m; ++r) {
    product += q.at(r, k) * ordinary[static_cast<std::size_t>(index[r])];
  }
  product /= std::sqrt(static_cast<double>(ordinary.size()));
  if (std::fabs(product) >= 1e-3) return product > 0.0 ? 1.0 : -1.0;
  double peak = 0.0, peak_value = 0.0;
  for (std::size_t r = 0; r < q.m; ++r) {
    if (std::fabs(q.at(r, k)) > peak) {
      peak = std::fabs(q.at(r, k));
      peak_value = q.at(r, k);
    }
  }
  return peak_value < 0.0 ? -1.0 : 1.0;
}

Status check_gap_tapers(std::span<const std::int64_t> index, int npts, int nwin, int p) {
  if (Status status = check_taper_arguments(npts, nwin, p, kMaxTapers); !status) return status;
  for (std::size_t j = 0; j < index.size(); ++j) {
    if (index[j] < 0 || index[j] >= npts || (j > 0 && index[j] <= index[j - 1])) {
      return Status::failure("Sample " + std::to_string(j + 1) + " lies at grid position " +
                             std::to_string(index[j]) +
                             "; the positions must increase strictly from 0 to " +
                             std::to_string(npts - 1) + ".");
    }
  }
  if (static_cast<std::size_t>(nwin) > index.size()) {
    return Status::failure("The number of tapers (" + std::to_string(nwin) +
                           ") exceeds the number of values present (" +
                           std::to_string(index.size()) + ").");
  }
  return Status::success();
}

std::size_t block_size(std::int64_t npts, std::int64_t present, int nwin, int p) {
  const double shannon =
      std::ceil(2.0 * static_cast<double>(p) * static_cast<double>(present) / static_cast<double>(npts));
  const std::size_t wanted = std::max(static_cast<std::size_t>(nwin), static_cast<std::size_t>(shannon));
  // Even: the kernel transforms vectors two at a time, so an odd block's
  // last transform would carry one vector where it could carry a further
  // guard vector for nothing.
  const std::size_t size = wanted + kGuardVectors;
  return std::min(static_cast<std::size_t>(present), size + size % 2);
}

}  // namespace

Status gap_tapers(std::span<const std::int64_t> index, int npts, int nwin, int p, GapTapers& out,
                  std::pmr::memory_resource* memory, int jobs) {
  if (Status status = check_gap_tapers(index, npts, nwin, p); !status) return status;
  const std::size_t n = static_cast<std::size_t>(npts);
  const std::size_t m = index.size();
  const std::size_t k = static_cast<std::size_t>(nwin);
  const std::size_t b = block_size(npts, static_cast<std::int64_t>(m), nwin, p);
  const double w = static_cast<double>(p) / static_cast<double>(npts);

  const std::size_t workers =
      std::min(static_cast<std::size_t>(std::max(jobs, 1)), (b + 1) / 2);
  // The start: the ordinary tapers of the span on the samples present,
  // made in the storage of the block of images while it is not needed yet
  // (where it is large enough: with at least half the samples present).
  GapTapers result;
  Block q(m, b, memory);
  Block z(m, b, memory);
  {
    std::pmr::vector<float> own(memory);
    std::span<float> ordinary;
    if (n * sizeof(float) <= m * sizeof(double)) {
      ordinary = std::span<float>(reinterpret_cast<float*>(z.data.data()), n * b);
    } else {
      own.resize(n * b);
      ordinary = own;
    }
    std::vector<double> el(b), dlam(b);
    std::vector<float> tapsum(b);
    compute_tapers(npts, static_cast<int>(b), static_cast<float>(p), ordinary, el, tapsum, dlam,
                   EigenPath::Fast, memory);
    for (std::size_t i = 0; i < b; ++i) {
      const float* taper = ordinary.data() + i * n;
      double* column = q.column(i);
      for (std::size_t r = 0; r < m; ++r) column[r] = taper[static_cast<std::size_t>(index[r])];
    }
    // The first nwin stay as the sign reference. Beyond 16 tapers the
    // ordinary solver hands over to LAPACK, which settles the tie between
    // the two equal extremes of an antisymmetric taper the other way; the
    // reference is then computed as the spectrum engine computes it.
    if (b <= kFastPathTapers) {
      result.v.assign(ordinary.begin(), ordinary.begin() + static_cast<std::ptrdiff_t>(n * k));
    } else {
      result.v.resize(n * k);
      compute_tapers(npts, nwin, static_cast<float>(p), result.v, el, tapsum, dlam,
                     EigenPath::Fast, memory);
    }
  }
  if (!cholesky_orthonormalise(q, workers)) orthonormalise(q, workers);

  std::pmr::vector<PairWork> work(memory);
  work.reserve(workers);
  for (std::size_t slot = 0; slot < workers; ++slot)
    work.emplace_back(SincKernel::transform_size(n), m, memory);
  const SincKernel kernel(index, n, w, memory, workers > 1, work[0].transform);
  std::vector<double> theta;
  std::size_t wanted = k;
  for (int iteration = 1;; ++iteration) {
    apply_block(kernel, q, z, work);
    rayleigh_ritz(q, z, theta, workers);
    wanted = wanted_count(theta, k, m);
    const double residual = largest_residual(q, z, theta, wanted, workers);
    result.iterations = iteration;
    if (residual <= kResidualTolerance || b == m) break;
    // The filter damps [0, cut]; a cut at 0 (a block whose other vectors
    // have no concentration at all) would be a division by zero, so it
    // stays a little above.
    const double cut = std::max(theta[b - 1], 1e-6 * theta[0]);
    const int degree = iteration < kMaxIterations ? filter_degree(theta, wanted, cut, residual) : 0;
    if (degree == 0) {
      result.converged = false;
      break;
    }
    chebyshev_filter(kernel, q, z, degree, cut, work);
    if (!cholesky_orthonormalise(q, workers)) orthonormalise(q, workers);
  }
  settle_clusters(index, n, w, q, theta, wanted);

  result.npts = npts;
  result.nwin = nwin;
  result.p = p;
  result.present = static_cast<std::int64_t>(m);
  result.el.assign(theta.begin(), theta.begin() + static_cast<std::ptrdiff_t>(k));
  result.tapsum.resize(k);
  std::vector<float> column(n);
  for (std::size_t i = 0; i < k; ++i) {
    const std::span<float> taper(result.v.data() + i * n, n);
    const double sign = taper_sign(index, q, i, taper);
    std::fill(column.begin(), column.end(), 0.0f);
    for (std::size_t r = 0; r < m; ++r) {
      column[static_cast<std::size_t>(index[r])] = static_cast<float>(sign * q.at(r, i));
    }
    result.tapsum[i] = scale_taper(column);
    std::copy(column.begin(), column.end(), taper.begin());
  }
  out = std::move(result);
  return Status::success();
}

std::uint64_t gap_taper_bytes(std::int64_t npts, std::int64_t present, int nwin, int p,
                              int jobs) {
  const std::uint64_t n = static_cast<std::uint64_t>(std::max<std::int64_t>(npts, 1));
  const std::uint64_t m = static_cast<std::uint64_t>(std::max<std::int64_t>(present, 1));
  const std::uint64_t b = block_size(static_cast<std::int64_t>(n), static_cast<std::int64_t>(m),
                                     std::max(nwin, 1), std::max(p, 1));
  const std::uint64_t length = SincKernel::transform_size(n);
  const std::uint64_t k = static_cast<std::uint64_t>(std::max(nwin, 1));
  // The transform's vectors, kernel, sample map and tables; the two blocks and
  // the filter's vectors; the ordinary tapers of the start; the result; and
  // for each further worker its own transform and filter vectors.
  const std::uint64_t workers =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(jobs, 1)), (b + 1) / 2);
  return 72 * length + 4 * n + 16 * b * m + 32 * m + 4 * b * n +
         taper_work_bytes(static_cast<int>(n)) + 8 * k * n + (workers - 1) * (32 * length + 32 * m);
}

}  // namespace quorvane::spectral
