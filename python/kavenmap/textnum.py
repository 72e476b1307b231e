"""The numbers of the text maps, read a block at a time without a Python
object per value.

The converter writes every real in a field of 24 columns, in one of two
forms: fixed, right-aligned in the first 19 columns with 15 significant
digits and 5 blanks after it ("   1.00000000000000     ", "  0.500000000000000
    "), or exponent, right-aligned in all 24 with 16 significant digits and a
three-digit exponent ("  2.540000000000000E-002"). A field in neither form
(cut short, shifted, a value that is not finite) is refused, so a map cut
inside its last number cannot pass as a shorter number.
"""

from __future__ import annotations

import numpy as np

WIDTH = 24
_LEAD = 19  # columns of the fixed form; the exponent form adds "E+ddd"
_BLANK, _MINUS, _POINT, _E, _PLUS = 32, 45, 46, 69, 43




_POW10_INT = 10 ** np.arange(19, dtype=np.int64)
_POW10_F8 = 10.0 ** np.arange(23)  # exact doubles up to 1e22


def _exact_powers_longdouble():
    p = [np.longdouble(1)]
    for _ in range(27):
        p.append(p[-1] * np.longdouble(10))  # exact while 5**k fits the mantissa
    return np.array(p, dtype=np.longdouble)


_POW10_LD = _exact_powers_longdouble()
_LD_EXACT = np.finfo(np.longdouble).nmant >= 63  # an x87 extended mantissa or wider


def parse_fields(fields: np.ndarray):
    """Values of a uint8 array of fields, (..., 24): (values, flat index of
    the first field that is not a number in the converter's layout, or -1;
    values is None then)."""
    # Column by column over all fields at once: one row per column.
    cols = np.ascontiguousarray(np.moveaxis(fields, -1, 0)).reshape(WIDTH, -1)
    n = cols.shape[1]
    digit = cols - np.uint8(48)
    is_digit = digit < 10
    point = cols[:_LEAD] == _POINT
    p = np.zeros(n, dtype=np.uint8)
    npoint = np.zeros(n, dtype=np.uint8)
    for c in range(3, _LEAD):
        npoint += point[c]
        p += point[c] * np.uint8(c)
    # The point at column 3 (exponent form, and the fixed form below 1,
    # "0.") or further right (fixed form, 1 to 15 digits before it); only
    # digits from column 2 or 3 to 18, a sign or a blank in front, blanks before.
    ok = (npoint == 1) & (cols[0] == _BLANK)
    short = p == 3
    sign = np.where(short, cols[1], cols[2])
    ok &= (sign == _BLANK) | (sign == _MINUS)
    ok &= np.where(short, is_digit[2], (cols[1] == _BLANK) & is_digit[3])
    ok &= np.logical_and.reduce(is_digit[4:_LEAD] | point[4:], axis=0)
    exp_form = (cols[19] == _E) & ((cols[20] == _PLUS) | (cols[20] == _MINUS)) & \
        is_digit[21] & is_digit[22] & is_digit[23]
    fixed_form = np.logical_and.reduce(cols[19:] == _BLANK, axis=0)
    # The fixed form writes 15 significant digits: "0." and 15 when below 1.
    ok &= (exp_form & short) | (fixed_form & (~short | (digit[2] == 0)))
    if not ok.all():
        return None, int(np.argmin(ok))

    # The digits of columns 2 to 18 as one integer t, the point counting as
    # a 0 digit; m is t with the point taken out and value = m 10**e10.
    digit *= is_digit
    # Four digits at a time in 16 bits (up to 9999), then into 64 bits.
    t = digit[2].astype(np.int64)
    for c in range(3, _LEAD, 4):
        quad = digit[c].astype(np.uint16)
        for d in digit[c + 1:c + 4]:
            quad *= 10
            quad += d
        t *= 10 ** min(4, _LEAD - c)
        t += quad
    below = t % _POW10_INT[_LEAD - 1 - p]
    m = (t - below) // 10 + below
    e10 = p.astype(np.int64) - (_LEAD - 1)
    if exp_form.any():
        ed = digit[21].astype(np.int64) * 100 + digit[22] * np.int64(10) + digit[23]
        e10 += np.where(exp_form, np.where(cols[20] == _MINUS, -ed, ed), 0)
    values = _scaled(m, e10, fields)
    np.negative(values, out=values, where=sign == _MINUS)
    return values, -1


def _scaled(m, e10, fields):
    """Correctly rounded doubles of m 10**e10 (m below 10**16)."""
    values = m.astype(np.float64)
    # Exact m and an exact power of ten: one rounding, the right one.
    k = np.minimum(np.abs(e10), 22)
    scale = _POW10_F8[k]
    up = e10 >= 0
    np.multiply(values, scale, out=values, where=up)
    np.divide(values, scale, out=values, where=~up)
    slow = np.flatnonzero((m > 2 ** 53) | (k != np.abs(e10)))
    if slow.size == 0:
        return values
    if _LD_EXACT:
        slow = _extended(m[slow], e10[slow], slow, values)
    if slow.size:
        flat = fields.reshape(-1, WIDTH)
    for i in slow:  # ties near a midpoint, far exponents: the rare ones
        values[i] = abs(float(flat[i].tobytes()))
    return values


def _extended(m, e10, where, values):
    """m 10**e10 in extended precision, rounded to double where that cannot
    differ from the correct rounding; returns the indices left undecided."""
    k = np.abs(e10)
    first = _POW10_LD[np.minimum(k, 27)]
    second = _POW10_LD[np.clip(k - 27, 0, 27)]
    x = m.astype(np.longdouble)
    x = np.where(e10 >= 0, x * first * second, x / first / second)
    r = x.astype(np.float64)
    # The error of x is at most one unit of its last place per operation:
    # the rounding to double is sure unless x lies that close to a midpoint.
    ulp_x = np.spacing(np.abs(x))
    half = np.spacing(np.abs(r)).astype(np.longdouble) / 2
    margin = half - np.abs(x - r.astype(np.longdouble))
    frac, _ = np.frexp(r)
    sure = (margin > 2 * ulp_x) & (k <= 54) & (np.abs(frac) != 0.5) & np.isfinite(r) & \
        ((r != 0) | (m == 0)) & (np.abs(r) >= np.finfo(np.float64).tiny)
    sure |= m == 0
    values[where[sure]] = np.where(m[sure] == 0, 0.0, r[sure])
    return where[~sure]
