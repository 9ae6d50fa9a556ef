"""Figures of the results with matplotlib (imported when first drawn, so
that the package runs without it): each plot() draws on a new figure, or
on the axes given, and returns the figure."""

import numpy as np


def _units(result):
    unit = getattr(result, "time_unit", None)
    return f"cycles per {unit}" if unit else "cycles per unit of time"


def _axes(ax, rows, height):
    import matplotlib.pyplot as plt

    if ax is not None:
        axes = np.atleast_1d(ax)
        if len(axes) != rows:
            raise ValueError(f"ax: {rows} axes are drawn on, not {len(axes)}")
        return axes[0].figure, axes
    figure, axes = plt.subplots(rows, 1, sharex=True, figsize=(8, height), squeeze=False,
                                constrained_layout=True)
    return figure, axes[:, 0]


_SHORT = {"second": "s", "minute": "min", "hour": "h", "day": "d", "week": "wk", "month": "mo",
          "year": "yr"}


def _period_text(period, unit):
    if not np.isfinite(period):
        return "trend"
    return f"{period:.3g} {_SHORT.get(unit, unit)}" if unit else f"{period:.3g}"


def spectrum(s, ax=None, peaks=8):
    """The estimate with its background and 90, 95 and 99 % levels on a log
    axis, the `peaks` strongest significant peaks labelled with their
    periods (of the line the F-test places, where it does); below, the F statistic with its 95 and 99 % levels. ax: two
    axes to draw on. Returns the figure."""
    figure, (top, bottom) = _axes(ax, 2, 6)
    f = np.asarray(s.frequency)
    top.semilogy(f, s.estimate, color="black", lw=0.8, label="estimate")
    top.semilogy(f, s.background, color="tab:blue", lw=1.2, label="background")
    for percent, style in ((90.0, ":"), (95.0, "--"), (99.0, "-.")):
        top.semilogy(f, s.levels[percent], color="tab:red", lw=0.8, ls=style,
                     label=f"{percent:g} %")
    table = s.peaks
    table = table[~table["trend"]].nlargest(peaks, "ratio") if len(table) else table
    unit = getattr(s, "time_unit", None)
    estimate = np.asarray(s.estimate)
    for _, peak in table.iterrows():
        i = int(np.argmin(np.abs(f - peak["frequency"])))
        # The period of the line between the bins where the F-test placed it.
        line = peak["line_frequency"]
        period = 1 / line if np.isfinite(line) and line > 0 else peak["period"]
        top.plot(f[i], estimate[i], "v", color="tab:red", ms=4)
        top.annotate(_period_text(period, unit), (f[i], estimate[i]),
                     textcoords="offset points", xytext=(0, 6), ha="center", fontsize=7)
    # Room above the highest peak for its label.
    if estimate.size and np.nanmax(estimate) > 0:
        top.set_ylim(top=np.nanmax(estimate) * 8)
    top.set_ylabel("power")
    top.set_title(f"{s.name or 'series'}: multitaper spectrum")
    top.legend(fontsize=7, ncol=5, loc="lower left")
    bottom.plot(f, s.F, color="black", lw=0.8, label="F")
    for percent, style in ((95.0, "--"), (99.0, "-.")):
        bottom.axhline(s.F_levels[percent], color="tab:red", lw=0.8, ls=style,
                       label=f"{percent:g} %")
    bottom.set_ylabel("harmonic F")
    bottom.set_xlabel(f"frequency ({_units(s)})")
    bottom.legend(fontsize=7, loc="upper right")
    bottom.set_xlim(f[0], f[-1])
    return figure


def coherence(c, ax=None):
    """The coherence with its 95 % interval and its 90, 95 and 99 % levels
    of no coherence; below, the phase with its interval where the coherence
    passes the 95 % level. ax: two axes. Returns the figure."""
    figure, (top, bottom) = _axes(ax, 2, 6)
    f = np.asarray(c.frequency)
    top.fill_between(f, c.coherence_lower, c.coherence_upper, color="0.9", lw=0,
                     label="95 % interval")
    top.plot(f, c.coherence, color="black", lw=0.9, label="coherence")
    for percent, style in ((90, ":"), (95, "--"), (99, "-.")):
        top.plot(f, c.levels[percent], color="tab:red", lw=0.8, ls=style, label=f"{percent} %")
    top.set_ylim(0, 1)
    top.set_ylabel("squared coherence")
    top.set_title(f"{c.name_a} and {c.name_b}: coherence")
    top.legend(fontsize=7, ncol=5, loc="upper right")
    coherent = np.asarray(c.coherence) >= np.asarray(c.levels[95])
    phase = np.asarray(c.phase)
    bottom.plot(f, phase, ".", color="0.75", ms=2)
    low, high = np.asarray(c.phase_lower), np.asarray(c.phase_upper)
    bottom.errorbar(f[coherent], phase[coherent],
                    yerr=[phase[coherent] - low[coherent], high[coherent] - phase[coherent]],
                    fmt="o", color="tab:blue", ms=2.5, elinewidth=0.4, alpha=0.8,
                    label="coherent at 95 %")
    bottom.set_ylim(-200, 200)
    bottom.set_yticks([-180, -90, 0, 90, 180])
    bottom.set_ylabel("phase (degrees, B lags A)")
    bottom.set_xlabel(f"frequency ({_units(c)})")
    if coherent.any():
        bottom.legend(fontsize=7, loc="upper right")
    bottom.set_xlim(f[0], f[-1])
    return figure


def record_times(result, time):
    """Times of `result`'s record on its own axis: decimal years for dates,
    else the times themselves; and the axis' label."""
    t = np.asarray(time, dtype=np.float64)
    origin, unit = getattr(result, "time_origin", None), getattr(result, "time_unit", None)
    if origin is None:
        return t, f"time ({unit})" if unit else "time"
    from ._time import _unit_days

    return origin + t * _unit_days(unit, "standard") / _unit_days("year", "standard"), "year"


def evolutive(e, ax=None, tracks=99.0):
    """The power of every window (log colour scale) on the record's time
    axis and the frequency, with the points of the tracks whose F reaches
    `tracks` percent (None: none). ax: one axes. Returns the figure."""
    from matplotlib.colors import LogNorm

    figure, (axes,) = _axes(ax, 1, 4.5)
    time, label = record_times(e, e.time)
    power = np.asarray(e.power, dtype=np.float64)
    positive = power[power > 0]
    norm = LogNorm(vmin=np.percentile(positive, 2), vmax=positive.max()) if positive.size else None
    mesh = axes.pcolormesh(time, e.frequency, power.T, shading="nearest", cmap="viridis",
                           norm=norm)
    figure.colorbar(mesh, ax=axes, label="power")
    points = e.tracks
    if tracks is not None and len(points):
        points = points[points["F_significance"] >= tracks]
        shifted, _ = record_times(e, points["time"].to_numpy())
        axes.plot(shifted, points["frequency"], "o", mfc="none", mec="white", ms=3, mew=0.7)
    axes.set_xlabel(label)
    axes.set_ylabel(f"frequency ({_units(e)})")
    title = f"{e.name or 'series'}: evolutive spectrum, windows of {e.window} values"
    if tracks is not None:
        title += f"; o: F at {tracks:g} %"
    axes.set_title(title)
    return figure
