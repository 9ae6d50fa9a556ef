"""The Python module gives the command line's numbers, and refuses what the
command line refuses, with the engine's messages."""

import os
import subprocess
import sys

import numpy as np
import pytest

import quorvane
from conftest import EXAMPLES

SUNSPOTS = EXAMPLES / "sunspots.dat"

# The same analysis as command-line options and as keywords.
RUNS = [
    ([], {}),
    (["--resolution", "3", "--noise", "white", "--background", "raw", "--estimate", "hires",
      "--reshape", "99", "--band", "0.02:0.4", "--normalize", "n", "--pad", "2"],
     dict(resolution=3, noise="white", background="raw", estimate="hires", reshape=99,
          band=(0.02, 0.4), normalize="n", pad=2)),
    (["--signal", "harmonic", "--tapers", "5", "--concentrations", "exact", "--max-peaks", "3"],
     dict(signal="harmonic", tapers=5, concentrations="exact", max_peaks=3)),
    (["--resolution", "1", "--smoothing", "0.05", "--fit", "linear", "--median-bias-correction",
      "--jackknife", "--tapers", "2"],
     dict(resolution=1, smoothing=0.05, fit="linear", median_bias_correction=True,
          jackknife=True, tapers=2)),
    (["--significance", "montecarlo", "--surrogates", "50", "--seed", "7", "--reshape", "off"],
     dict(significance="montecarlo", surrogates=50, seed=7, reshape="off", jobs=2)),
    (["--normalize", "density", "--background", "raw"], dict(normalize="density", background="raw")),
]


@pytest.mark.parametrize("options,keywords", RUNS, ids=lambda v: " ".join(v) if isinstance(v, list) else None)
def test_arrays_equal_the_command_lines_csv(analyse, options, keywords):
    files = analyse(SUNSPOTS, "--layout", "single", *options)
    s = quorvane.spectrum(quorvane.read(str(SUNSPOTS), "single")[0], **keywords)
    columns = files["spectrum"]
    arrays = {name: getattr(s, name) for name in
              ("frequency", "period", "estimate", "reshaped", "harmonic", "median", "background", "F")}
    arrays.update({f"level{p:g}": level for p, level in s.levels.items()})
    arrays.update({f"F{p:g}": np.full(len(s.frequency), v, np.float32) for p, v in s.F_levels.items()})
    arrays.update({f"global{p:g}": level for p, level in s.global_levels.items()})
    if keywords.get("jackknife"):
        arrays.update(jackknife_lower=s.jackknife_lower, jackknife_upper=s.jackknife_upper)
    assert sorted(arrays) == sorted(columns)
    for name, values in arrays.items():
        np.testing.assert_array_equal(values, columns[name], err_msg=name)
    for name, values in s.peaks.items():
        np.testing.assert_array_equal(values.to_numpy(np.float32), files["peaks"][name], err_msg=name)


def test_reconstruction_equals_the_command_lines_csv(analyse):
    files = analyse(SUNSPOTS, "--layout", "single", "--reconstruct", "0.09,0.1",
                    "--constraint", "slope", "--tapers", "4")
    series = quorvane.read(str(SUNSPOTS), "single")[0]
    table = quorvane.reconstruct(series, quorvane.spectrum(series, tapers=4), [0.09, 0.1],
                                 constraint="slope")
    assert list(table.columns) == list(files["recon"])
    for name, values in files["recon"].items():
        np.testing.assert_array_equal(table[name].to_numpy(np.float32), values, err_msg=name)


# One bad value or combination per setting, and the words its message holds.
REFUSED = [
    (dict(resolution=0), ValueError, "resolution must be from 1"),
    (dict(tapers=9), ValueError, "tapers must be from 1 to 8"),
    (dict(noise="blue"), ValueError, "noise: 'blue' is not one of red, white, local"),
    (dict(background="median"), ValueError, "background"),
    (dict(smoothing=0.001), ValueError, "smoothing 0.001 lies outside"),
    (dict(fit="cubic"), ValueError, "fit"),
    (dict(signal="harmonic", noise="white"), ValueError, "noise cannot be red or white"),
    (dict(estimate=1), TypeError, "estimate"),
    (dict(normalize="N2"), ValueError, "normalize"),
    (dict(reshape=97), ValueError, "reshape must be 50, 90, 95"),
    (dict(band=(0.3, 0.1)), ValueError, "band"),
    (dict(band="0.3"), ValueError, "band"),
    (dict(pad=3), ValueError, "pad must be 1, 2, 4 or 8"),
    (dict(concentrations="computed"), ValueError, "concentrations"),
    (dict(median_bias_correction=1), TypeError, "median_bias_correction"),
    (dict(background="raw", median_bias_correction=True), ValueError, "median_bias_correction cannot"),
    (dict(significance="bootstrap"), ValueError, "significance"),
    (dict(surrogates=50), ValueError, "surrogates needs significance='montecarlo'"),
    (dict(significance="montecarlo", surrogates=18), ValueError,
     "surrogates must be from 19 to 100000, not 18 (fewer than 19 surrogates cannot place"),
    (dict(seed=-1), TypeError, "seed"),
    (dict(jobs=0), ValueError, "jobs must be from 1"),
    (dict(jackknife=True, tapers=1), ValueError, "jackknife needs at least 2 tapers"),
    (dict(max_peaks=101), ValueError, "max_peaks must be from 0 to 100"),
    (dict(sampling="automatic"), ValueError, "sampling: 'automatic' is not one of auto, even"),
]


def test_every_setting_is_accepted_by_its_name():
    names = {name for keywords, _, _ in REFUSED for name in keywords}
    assert names == set(quorvane.SETTINGS)


def test_the_documentation_gives_every_setting_with_its_default_and_values():
    doc = " ".join(quorvane.spectrum.__doc__.split())
    for name in quorvane.SETTINGS:
        assert f" {name}=" in doc, name
    for piece in ["tapers=None (2P-1 up to 8, 1..8)", "noise='red' (red, white, local;",
                  "estimate='adaptive' (hires, adaptive)", "reshape=95 (50, 90, 95, 99, 99.5, 99.9 or 'off')",
                  "max_peaks=40 (0..100)", "median_bias_correction=False"]:
        assert piece in doc, piece


def test_a_resolution_above_four_takes_eight_tapers_not_a_refusal():
    values = np.sin(np.arange(512) * 0.3) + np.cos(np.arange(512) * 0.05)
    assert quorvane.spectrum(values, resolution=5).settings["tapers"] == 8
    assert quorvane.spectrum(values, resolution=5, tapers=8).settings == \
        quorvane.spectrum(values, resolution=5).settings


@pytest.mark.parametrize("keywords,error,words", REFUSED, ids=lambda v: str(v) if isinstance(v, dict) else None)
def test_a_bad_setting_is_refused_with_its_name(keywords, error, words):
    with pytest.raises(error, match=words.replace("(", r"\(")):
        quorvane.spectrum(np.sin(np.arange(256) * 0.3), **keywords)


# AddressSanitizer reserves its shadow memory in the same address space and
# ends the process when an allocation fails, so a capped address space says
# nothing about the library there.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's allocator aborts instead of failing an allocation")
def test_running_out_of_memory_raises_memory_error_not_a_crash():
    # The address space is capped just above what the interpreter holds, so
    # the allocations of a long padded spectrum fail although the machine's
    # available memory (which the engine checks first) would allow them.
    script = (
        "import resource, sys\n"
        "import numpy as np\n"
        "import quorvane\n"
        "values = np.random.default_rng(1).standard_normal(4_000_000).astype(np.float32)\n"
        "size = next(int(l.split()[1]) for l in open('/proc/self/status') if l.startswith('VmSize'))\n"
        "resource.setrlimit(resource.RLIMIT_AS, (size * 1024 + 150 * 2**20, resource.RLIM_INFINITY))\n"
        "try:\n"
        "    quorvane.spectrum(values, pad=8)\n"
        "except MemoryError as refusal:\n"
        "    print(refusal)\n")
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert run.returncode == 0, run.stderr
    assert "memory" in run.stdout


HOLES = [5, 6, 40]


def _masked(y):
    return np.ma.masked_array(y, mask=np.isin(np.arange(len(y)), HOLES))


def _nullable(dtype):
    def make(y):
        import pandas as pd
        values = pd.array(np.round(y * 100), dtype=dtype)
        values[HOLES] = pd.NA
        return pd.Series(values)
    return make


@pytest.mark.parametrize("make,scale", [(_masked, 1), (_nullable("Float64"), 100),
                                        (_nullable("Int64"), 100)],
                         ids=["masked", "Float64", "Int64"])
def test_masked_and_na_samples_are_missing_at_their_times(make, scale):
    y = np.sin(np.arange(64.0) * 0.4) + 2
    kept = np.delete(np.arange(64), HOLES)
    values = np.round(y * 100)[kept] if scale == 100 else y[kept]
    expected = quorvane.spectrum(values, time=kept * 2.0)
    s = quorvane.spectrum(make(y), dt=2.0)
    assert (s.sampling["class"], s.sampling["method"]) == ("gaps", "missing_data_multitaper")
    np.testing.assert_array_equal(s.estimate, expected.estimate)


@pytest.mark.parametrize("time,sampling,kind,method,dt", [
    (np.r_[0:32, 33:65], "even", "gaps", "mean_step_multitaper", 64 / 63),
    (np.r_[0:32, 33:65], "auto", "gaps", "missing_data_multitaper", 1),
    (np.sqrt(np.arange(64.0)) * 8, "auto", "uneven", "lomb_scargle_multitaper", None),
    (np.arange(64.0)[::-1], "auto", "even", "multitaper", 1),
])
def test_times_with_gaps_or_uneven_steps_get_the_analysis_asked_for(time, sampling, kind, method, dt):
    s = quorvane.spectrum(np.sin(np.arange(64.0)), time=time, sampling=sampling)
    assert (s.sampling["class"], s.sampling["method"]) == (kind, method)
    assert dt is None or s.dt == np.float32(dt)
    assert s.sampling["reversed"] == (time[0] > time[-1])


def test_read_refuses_an_option_the_layout_does_not_take():
    with pytest.raises(ValueError, match="skip applies to layout two, multi, monthly, rows and csv only"):
        quorvane.read(str(SUNSPOTS), "single", skip=2)
