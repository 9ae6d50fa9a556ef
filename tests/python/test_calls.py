"""Wrong calls are refused briefly (no input echoed, positions from 0 with
their dates), and the functions show their real signatures."""

import inspect

import numpy as np
import pandas as pd
import pytest

import quorvane

X = np.sin(np.arange(309) * 0.3)
DATED = pd.Series(X, index=pd.date_range("1990-01", periods=309, freq="MS"))
NAN = X.copy()
NAN[17] = np.nan
DATED_NAN = pd.Series(NAN, index=DATED.index).to_numpy()

# The call, the exception and words of its message.
WRONG = [
    (lambda: quorvane.spectrum(X, "x"), ValueError, "dt: 'x' is not a step of time"),
    (lambda: quorvane.spectrum(X, [1, 2]), TypeError, "dt: a number or a Timedelta, not list"),
    (lambda: quorvane.spectrum(X, True), TypeError, "not a bool"),
    (lambda: quorvane.spectrum(X, name=5), TypeError, "name: a str"),
    (lambda: quorvane.spectrum(X, time_unit="fortnight"), ValueError, "time_unit: 'fortnight'"),
    (lambda: quorvane.spectrum(X, taper=3), TypeError, "did you mean 'tapers'"),
    (lambda: quorvane.spectrum(X, colour=3), TypeError, "see quorvane.SETTINGS"),
    (lambda: quorvane.spectrum(X, tapers="three"), TypeError, "tapers: an integer"),
    (lambda: quorvane.spectrum(X, surrogates=X), TypeError, r"not ndarray of shape \(309,\)"),
    (lambda: quorvane.spectrum(X, band=X), TypeError, "band: a pair"),
    (lambda: quorvane.spectrum("abc"), TypeError, "values: a one-dimensional sequence"),
    (lambda: quorvane.spectrum(np.zeros((2, 3, 4))), TypeError, "for a grid use"),
    (lambda: quorvane.spectrum(np.zeros((2, 30)), axis=2), ValueError, "axis: 2"),
    (lambda: quorvane.spectrum(np.zeros((2, 30)), name=["a"]), ValueError, "1 names for 2"),
    (lambda: quorvane.spectrum(X * 1j), TypeError, "complex numbers cannot be analysed"),
    (lambda: quorvane.spectrum(np.vstack([X, NAN])), ValueError,
     r"series 1 \(1\): values\[17\] is nan"),
    (lambda: quorvane.spectrum(pd.DataFrame({"a": X, "b": X}), tapers=9), ValueError,
     r"series 0 \(a\): tapers must be from 1 to 8"),
    (lambda: quorvane.spectrum(NAN), ValueError, r"values\[17\] is nan"),
    (lambda: quorvane.spectrum(DATED_NAN, time=DATED.index), ValueError,
     r"values\[17\] \(1991-06-01\) is nan"),
    (lambda: quorvane.spectrum(X[:4], time=[0, 1, 1, 2]), ValueError,
     r"time\[2\] \(time 1\) repeats the time before it"),
    (lambda: quorvane.spectrum(X[:4], time=DATED.index[[0, 2, 1, 3]]), ValueError,
     r"time\[2\] \(1990-02-01\) turns back"),
    (lambda: quorvane.spectrum(X[:3], time=[0, 1]), ValueError, "time: 2 times for 3 values"),
    (lambda: quorvane.spectrum(X, 0.5, time=np.arange(309.0)), TypeError, "time or dt, not both"),
    (lambda: quorvane.spectrum(X[:1]), ValueError, "at least 2 are needed"),
    (lambda: quorvane.spectrum(X, time=["a", "b"]), TypeError, "time: numbers or dates"),
    (lambda: quorvane.spectrum(quorvane.Series(X), time=X), TypeError, "brings its own times"),
    (lambda: quorvane.coherence(X, X[::2], 1.0, noise="red"), TypeError, "unexpected keyword"),
    (lambda: quorvane.coherence(X, X, tapers=1), ValueError, "tapers"),
    (lambda: quorvane.evolutive(X, window=1000, step=1), ValueError, "window"),
    (lambda: quorvane.evolutive(X, window="5 years", step=1), ValueError, "window|not a step"),
    (lambda: quorvane.reconstruct(X, X), TypeError, "spectrum: a quorvane.Spectrum"),
    # A missing file is an OSError, as open() gives.
    (lambda: quorvane.read("/nonexistent/file", "single"), OSError, "nonexistent.*no such file"),
]


@pytest.mark.parametrize("call,error,words", WRONG, ids=[w for _, _, w in WRONG])
def test_a_wrong_call_is_refused_in_a_short_message(call, error, words):
    with pytest.raises(error, match=words) as refusal:
        call()
    assert len(str(refusal.value)) < 200, str(refusal.value)


def test_the_functions_have_real_signatures_with_every_setting():
    spectrum = inspect.signature(quorvane.spectrum).parameters
    assert list(spectrum)[:2] == ["values", "dt"]
    assert set(quorvane.SETTINGS) <= set(spectrum)
    assert spectrum["time_unit"].kind is inspect.Parameter.KEYWORD_ONLY
    coherence = inspect.signature(quorvane.coherence).parameters
    assert "tapers" in coherence and "noise" not in coherence
    assert {"window", "step"} <= set(inspect.signature(quorvane.evolutive).parameters)
    assert {"ages", "agreement", "tapers"} <= set(inspect.signature(quorvane.ensemble).parameters)
    for function in (quorvane.reconstruct, quorvane.read):
        inspect.signature(function)


def test_help_states_shapes_units_and_defaults():
    spectrum = " ".join(quorvane.spectrum.__doc__.split())
    for words in ("cycles per year", "time_unit", "default year", "axis", "DataFrame",
                  "tapers=None"):
        assert words in spectrum, words
    assert "(windows, frequencies)" in quorvane.evolutive.__doc__
    assert "degrees" in quorvane.Coherence.__doc__
