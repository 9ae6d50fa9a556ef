"""normalize="density": a one-sided power spectral density that holds the
series' variance (Parseval) on every sampling path, with its background and
levels on the same scale, and units wherever a spectrum is an array."""

import numpy as np
import pytest

import quorvane

N, DT = 2048, 0.5


def noise(kind, rng):
    e = rng.standard_normal(N)
    if kind == "white":
        return 3.0 * e
    x = np.empty(N)
    x[0] = e[0]
    for i in range(1, N):
        x[i] = 0.6 * x[i - 1] + e[i]
    return x


def sampled(kind, rng):
    """Times of N values: evenly spaced, with three gaps, or steps within 20 %
    of their mean. (Steps from half to one and a half of the mean raise the
    uneven estimate of red noise by 10 to 20 %: the Lomb-Scargle tapers leak
    the low frequencies' power into a floor.)"""
    if kind == "even":
        return np.arange(N) * DT
    if kind == "gaps":
        keep = np.ones(N + 300, bool)
        keep[[*range(200, 300), *range(900, 1000), *range(1500, 1600)]] = False
        return np.flatnonzero(keep)[:N] * DT
    return np.cumsum(rng.uniform(0.8, 1.2, N)) * DT


@pytest.mark.parametrize("sampling", ["even", "gaps", "uneven"])
@pytest.mark.parametrize("kind", ["white", "ar1"])
def test_the_density_integrates_to_the_variance(kind, sampling):
    rng = np.random.default_rng(42)
    x, time = noise(kind, rng), sampled(sampling, rng)
    s = quorvane.spectrum(x, time=time, normalize="density")
    expected = {"even": "multitaper", "gaps": "missing_data_multitaper",
                "uneven": "lomb_scargle_multitaper"}[sampling]
    assert s.sampling["method"] == expected
    df = s.frequency[1] - s.frequency[0]
    integral = np.sum(s.estimate, dtype=np.float64) * df
    assert integral / np.var(x.astype(np.float32)) == pytest.approx(1.0, abs=0.1)


def test_background_and_levels_scale_with_the_estimate():
    rng = np.random.default_rng(1)
    x = noise("ar1", rng) + np.sin(2 * np.pi * 0.3 * np.arange(N) * DT)
    plain = quorvane.spectrum(x, DT)
    density = quorvane.spectrum(x, DT, normalize="density")
    factor = 2 * DT / N
    for name in ("estimate", "background"):
        np.testing.assert_allclose(getattr(density, name), getattr(plain, name) * factor, rtol=2e-4)
    for percent, level in density.levels.items():
        np.testing.assert_allclose(level, plain.levels[percent] * factor, rtol=2e-4)
    assert list(density.peaks.frequency) == list(plain.peaks.frequency)

