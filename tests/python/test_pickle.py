"""Results and series pickle and deep-copy to their equals, and the public
functions run in other processes: a Pool, and a two-worker dask cluster."""

import copy
import multiprocessing
import os
import pickle

import numpy as np
import pandas as pd
import pytest

import quorvane

RNG = np.random.default_rng(2)
VALUES = RNG.standard_normal(256) + np.sin(np.arange(256) * 0.8)


def _arrays(result, names):
    return {name: np.asarray(getattr(result, name)) for name in names}


def _same(a, b, names, frames=()):
    assert type(a) is type(b) and repr(a) == repr(b)
    for name, array in _arrays(a, names).items():
        np.testing.assert_array_equal(array, getattr(b, name), err_msg=name)
    for name in frames:
        pd.testing.assert_frame_equal(getattr(a, name), getattr(b, name))
    assert vars(a) == vars(b)


SPECTRUM = ("frequency", "period", "estimate", "reshaped", "harmonic", "median", "background",
            "F", "jackknife_lower", "jackknife_upper")
CASES = {
    "spectrum": (lambda: quorvane.spectrum(pd.Series(VALUES, index=pd.date_range(
        "2000-01", periods=256, freq="MS"), name="x"), jackknife=True, band=(0.5, 5)),
                 SPECTRUM, ("peaks",), ("settings", "sampling", "notes", "bandwidth", "rho", "dt",
                                         "length", "F_levels", "name")),
    "montecarlo": (lambda: quorvane.spectrum(VALUES, significance="montecarlo", surrogates=40),
                   SPECTRUM, ("peaks",), ("settings", "F_levels")),
    "coherence": (lambda: quorvane.coherence(VALUES, np.roll(VALUES, 2), tapers=4),
                  ("frequency", "coherence", "phase", "phase_upper", "gain", "spectrum_b"),
                  ("coherent",), ("name_a", "first_time", "length", "dt", "rho_b", "montecarlo")),
    "evolutive": (lambda: quorvane.evolutive(VALUES, 2.0, window=128, step=16, reshape=99),
                  ("time", "frequency", "power", "F", "ratio"), ("tracks",),
                  ("settings", "window", "step", "tracks_level")),
    # Records on their own times: the pair's sampling and the windows' methods.
    "own_times": (lambda: quorvane.coherence(
        quorvane.Series(VALUES, time=np.cumsum(RNG.uniform(0.5, 1.5, 256))),
        quorvane.Series(VALUES[::-1], time=np.cumsum(RNG.uniform(0.5, 1.5, 256))), tapers=4),
                  ("frequency", "coherence", "phase"), ("coherent",),
                  ("method", "sampling_a", "length_b", "persistence_a", "band_wide")),
    "windows_on_times": (lambda: quorvane.evolutive(
        VALUES, time=np.delete(np.arange(300.0), np.r_[100:144]), window=64, step=16),
                         ("time", "power", "F"), ("tracks",),
                         ("method", "empty", "min_samples", "notes")),
    "series": (lambda: quorvane.Series(VALUES, dt=0.25, name="s"), ("time", "values"), (),
               ("name",)),
}


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
@pytest.mark.parametrize("copier", [lambda r: pickle.loads(pickle.dumps(r)), copy.deepcopy,
                                    copy.copy], ids=["pickle", "deepcopy", "copy"])
def test_a_copy_equals_the_original(case, copier):
    make, arrays, frames, scalars = case
    original = make()
    twin = copier(original)
    _same(original, twin, arrays, frames)
    for name in scalars:
        assert getattr(twin, name) == getattr(original, name), name
    for name in ("levels", "global_levels"):
        if hasattr(original, name):
            assert getattr(original, name).keys() == getattr(twin, name).keys()
            for key, level in getattr(original, name).items():
                np.testing.assert_array_equal(getattr(twin, name)[key], level)


def test_a_broken_state_is_refused_not_read_past_its_end():
    state = quorvane.spectrum(VALUES).__reduce_ex__(2)
    fields, attributes = state[2]
    with pytest.raises(ValueError, match="too few fields"):
        state[1][0].__new__(state[1][0]).__setstate__((fields[:-3], attributes))


def _peak_count(row):
    return len(quorvane.spectrum(row, tapers=4).peaks)


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="worker processes under the sanitizer take minutes to start")
def test_a_two_worker_cluster_submits_and_delays_the_public_functions():
    distributed = pytest.importorskip("distributed")
    dask = pytest.importorskip("dask")
    months = pd.Series(VALUES, index=pd.period_range("1990-01", periods=256, freq="M"), name="m")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        submitted = client.submit(quorvane.spectrum, months, tapers=4).result()
        coherence = client.submit(quorvane.coherence, VALUES, VALUES[::-1]).result()
        delayed = dask.compute(*[dask.delayed(quorvane.spectrum)(row, 2.0) for row in
                                 (VALUES, VALUES + 1)])
    expected = quorvane.spectrum(months, tapers=4)
    _same(submitted, expected, SPECTRUM, ("peaks",))
    assert submitted.time_unit == "year" and submitted.name == "m"
    np.testing.assert_array_equal(coherence.coherence,
                                  quorvane.coherence(VALUES, VALUES[::-1]).coherence)
    np.testing.assert_array_equal(delayed[1].estimate, quorvane.spectrum(VALUES + 1, 2.0).estimate)
