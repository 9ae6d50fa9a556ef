"""The module's numbers against computations that share nothing with it:
tapers from scipy, transforms written out with numpy, and published
distributions for the levels and intervals. The other tests compare the
module with the command line's files; these catch a fault that both would
carry."""

import numpy as np
import pytest
from scipy import stats
from scipy.signal import windows

import quorvane
from conftest import EXAMPLES


def eigencoefficients(values, frequency, resolution, tapers):
    """Y_k(f) = sum_t v_k(t) (x_t - mean) exp(-i 2 pi f t), and the tapers'
    concentrations, for unit steps."""
    x = np.asarray(values, np.float64)
    x = x - x.mean()
    v, concentration = windows.dpss(len(x), resolution, Kmax=tapers, return_ratios=True)
    t = np.arange(len(x))
    kernel = np.exp(-2j * np.pi * np.outer(np.asarray(frequency, np.float64), t))
    return kernel @ (v * x).T, concentration


@pytest.fixture(scope="module")
def sunspots():
    return quorvane.read(str(EXAMPLES / "sunspots.dat"), "single")[0]


@pytest.mark.parametrize("tapers,resolution", [(3, 2), (5, 3), (2, 4)])
def test_spectrum_levels_and_estimate_follow_the_textbook(sunspots, tapers, resolution):
    s = quorvane.spectrum(sunspots, tapers=tapers, resolution=resolution, estimate="hires",
                           concentrations="exact")
    nu = 2 * tapers
    for percent, level in s.levels.items():
        expected = s.background.astype(np.float64) * stats.chi2.ppf(percent / 100, nu) / nu
        np.testing.assert_allclose(level, expected, rtol=2e-5, err_msg=f"level {percent}")
    for percent, level in s.F_levels.items():
        # F with 2 and 2K - 2 degrees of freedom.
        assert level == pytest.approx(stats.f.ppf(percent / 100, 2, 2 * tapers - 2), rel=2e-3)
    np.testing.assert_allclose(s.period[1:], 1 / s.frequency[1:].astype(np.float64), rtol=1e-6)
    np.testing.assert_allclose(np.diff(s.frequency.astype(np.float64)), s.frequency[1] - s.frequency[0],
                               rtol=1e-3)

    # The high-resolution estimate: sum_k |Y_k|^2 / (K lambda_k), up to the
    # scale the normalisation chooses, at every frequency of the band.
    y, concentration = eigencoefficients(sunspots.values, np.asarray(s.frequency, np.float64) * s.dt, resolution,
                                         tapers)
    direct = (np.abs(y) ** 2 / (tapers * concentration)).sum(axis=1)
    ratio = s.estimate / direct
    np.testing.assert_allclose(ratio, np.median(ratio), rtol=1e-5)


@pytest.mark.parametrize("tapers,resolution", [(3, 2), (5, 3)])
def test_coherence_and_its_intervals_follow_the_jackknife(tapers, resolution):
    male, female = quorvane.read(str(EXAMPLES / "uk_lung_deaths.csv"), "csv")
    c = quorvane.coherence(male, female, tapers=tapers, resolution=resolution)
    # Monthly values with times in years: the transform runs over the value index.
    f = np.asarray(c.frequency, np.float64) * c.dt
    ya, _ = eigencoefficients(male.values, f, resolution, tapers)
    yb, _ = eigencoefficients(female.values, f, resolution, tapers)
    cross = ya * np.conj(yb)
    sab, saa, sbb = cross.sum(1), (np.abs(ya) ** 2).sum(1), (np.abs(yb) ** 2).sum(1)
    defined = np.abs(sab) > 1e-6 * np.sqrt(saa * sbb)
    coherence = np.abs(sab) ** 2 / (saa * sbb)
    np.testing.assert_allclose(c.coherence, coherence, atol=2e-5)
    phase = np.degrees(np.angle(sab))
    wrapped = (c.phase - phase + 180) % 360 - 180
    assert np.all(np.abs(wrapped[defined]) < 2e-2)

    # Delete-one-taper estimates (Thomson & Chave 1991) with Student's t.
    t = stats.t.ppf(0.975, tapers - 1)
    rest = sab[:, None] - cross
    rest_c = np.abs(rest) ** 2 / ((saa[:, None] - np.abs(ya) ** 2) * (sbb[:, None] - np.abs(yb) ** 2))
    z = np.arctanh(np.sqrt(np.minimum(rest_c, 1 - 1e-12)))
    half_z = t * np.sqrt((tapers - 1) / tapers * ((z - z.mean(1, keepdims=True)) ** 2).sum(1))
    centre = np.arctanh(np.sqrt(np.minimum(coherence, 1 - 1e-12)))
    lower = np.tanh(np.maximum(centre - half_z, 0)) ** 2
    upper = np.tanh(centre + half_z) ** 2
    np.testing.assert_allclose(c.coherence_lower[defined], lower[defined], atol=2e-4)
    np.testing.assert_allclose(c.coherence_upper[defined], upper[defined], atol=2e-4)
    resultant = np.abs((rest / np.abs(rest)).sum(1)) / tapers
    half_phase = np.minimum(t * np.sqrt(2 * (tapers - 1) * (1 - resultant)) * 180 / np.pi, 180)
    np.testing.assert_allclose((c.phase_upper - c.phase_lower)[defined], 2 * half_phase[defined],
                               atol=0.1)

    # No coherence: |C|^2 exceeds 1 - (1 - p)^(1/(K - 1)) with chance 1 - p.
    for percent, level in c.levels.items():
        np.testing.assert_allclose(level, 1 - (1 - percent / 100) ** (1 / (tapers - 1)), rtol=1e-5)
