#!/usr/bin/env python3
"""date! fields of every day of years 1-9999 against python's datetime, and
time! text of random seconds against the same rule worked in decimal.

For each day: days since 1 January 1970, weekday (1 Monday), day of the
year, ISO week (isocalendar) and the week of weeks starting on Sunday (%U,
plus 1 unless 1 January is a Sunday).

usage: dates.py VYX [DAY-STRIDE [TIMES]]   (a stride of 1 walks every day)
"""
import datetime
import math
import random
import sys

# This directory's numbers.py would stand in for the standard module that
# decimal imports: take decimal from the standard library first.
_here = sys.path.pop(0)
import decimal  # noqa: E402
sys.path.insert(0, _here)

from common import check, run_script


def time_text(s):
    """[-]h:mm:ss[.f]: the seconds to six significant digits, carried."""
    out = ""
    if s < 0:
        out, s = "-", -s
    hours = math.floor(s / 3600)
    minutes = math.floor(math.fmod(s, 3600) / 60)
    r = math.fmod(s, 60)
    seconds = "00"
    if r >= 0.000001:
        seconds = format(decimal.Decimal("%.6g" % r), "f")
        if float(seconds) >= 60:
            seconds = "00"
            minutes += 1
            if minutes == 60:
                minutes, hours = 0, hours + 1
        if len(seconds) == 1 or seconds[1] == ".":
            seconds = "0" + seconds
    return "%s%d:%02d:%s" % (out, hours, minutes, seconds)


def main():
    vyx = sys.argv[1]
    stride = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    times = int(sys.argv[3]) if len(sys.argv) > 3 else 10000
    first, last = datetime.date(1, 1, 1), datetime.date(9999, 12, 31)
    epoch = datetime.date(1970, 1, 1)
    count = (last - first).days // stride + 1
    script = ("d: 1-Jan-0001 loop %d [print [d - 1-Jan-1970 d/weekday d/yearday d/isoweek d/week] d: d + %d]\n"
              % (count, stride))
    want = []
    day = first
    for _ in range(count):
        jan1 = datetime.date(day.year, 1, 1)
        week = int(day.strftime("%U")) + (0 if jan1.isoweekday() == 7 else 1)
        want.append((day.isoformat(), "%d %d %d %d %d" % (
            (day - epoch).days, day.isoweekday(), day.timetuple().tm_yday, day.isocalendar()[1], week)))
        if day.toordinal() + stride > last.toordinal():
            break
        day = datetime.date.fromordinal(day.toordinal() + stride)

    rng = random.Random(25)
    seconds = []
    for k in range(times):
        pick = k % 4
        if pick == 0:
            s = rng.uniform(-400000, 400000)
        elif pick == 1:
            s = round(rng.uniform(0, 90000), rng.randrange(0, 8))
        elif pick == 2:
            s = rng.randrange(-100, 100000) * 60 + rng.choice([-1e-7, -4e-7, 5e-7, 1e-7, 59.9999994, 59.9999996])
        else:
            s = rng.uniform(0, 120) * 10 ** rng.randrange(-6, 2)
        seconds.append(s)
    script += "".join("print mold to time! %.17g\n" % s for s in seconds)
    want += [("%.17g" % s, time_text(s)) for s in seconds]
    out = run_script(vyx, script)
    return check([(w, out[k] if k < len(out) else None, e) for k, (w, e) in enumerate(want)])


if __name__ == "__main__":
    sys.exit(main())
