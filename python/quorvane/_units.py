"""The units of spectral variables, by the normalisation that scaled them."""

# What each normalisation does to the estimate, said in the attributes of
# every spectral variable (N values, step dt; the tapers have a sum of
# squares N each).
SCALES = {
    "none": "as transformed: white noise of variance v lies near N v",
    "n": "divided by N^2",
    "dt": "multiplied by dt^2",
    "density": "one-sided power spectral density: integrates from 0 to the Nyquist "
               "frequency to the variance",
}


def spectral_units(normalize, time_unit="unit of time", value_units=None):
    """The `units` of an estimate, background or level scaled by `normalize`
    for times in `time_unit` and values in `value_units` (None: 'value')."""
    value = f"({value_units})^2" if value_units else "value^2"
    if normalize == "density":
        return f"{value} / (cycles per {time_unit})"
    if normalize == "dt":
        return f"{value} {time_unit}^2"
    return value


def spectral_attributes(normalize, time_unit="unit of time", value_units=None):
    """`units` and `scale` attributes of a spectral variable."""
    return {"units": spectral_units(normalize, time_unit, value_units),
            "scale": SCALES.get(normalize, normalize)}
