#!/usr/bin/python3
"""Writes tests/kiv/datatypes/date_cases.txt: dates and their fields, date
arithmetic and zone changes, computed with Python's datetime as an
independent oracle. Run it again only to change the table:

    /usr/bin/python3 tests/tools/gen_date_cases.py > tests/kiv/datatypes/date_cases.txt
"""
import calendar
import datetime as dt
import random

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
rng = random.Random(20200112)


def date_text(d):
    return f"{d.day}-{MONTHS[d.month - 1]}-{d.year:04d}"


def clock_text(seconds):
    h, rest = divmod(seconds, 3600)
    m, s = divmod(rest, 60)
    return f"{h}:{m:02d}:{s:02d}"


def zone_text(minutes):
    if minutes == 0:
        return ""
    sign = "-" if minutes < 0 else "+"
    h, m = divmod(abs(minutes), 60)
    return f"{sign}{h:02d}:{m:02d}"


def stamp_text(t, zone_minutes):
    """A naive local datetime `t` in a zone, as a date! literal."""
    seconds = t.hour * 3600 + t.minute * 60 + t.second
    return f"{date_text(t)}/{clock_text(seconds)}{zone_text(zone_minutes)}"


def sunday_week(d):
    """Weeks start on Sunday; week 1 holds 1 January."""
    first = dt.date(d.year, 1, 1)
    before = first.isoweekday() % 7  # days of week 1 before 1 January
    return (d.timetuple().tm_yday + before - 1) // 7 + 1


def fixed_dates():
    out = [dt.date(1, 1, 1), dt.date(1, 1, 2), dt.date(1, 12, 31), dt.date(9999, 12, 31), dt.date(9999, 1, 1),
           dt.date(1970, 1, 1), dt.date(1969, 12, 31), dt.date(2000, 1, 1), dt.date(2000, 12, 31),
           dt.date(2038, 1, 19), dt.date(2038, 1, 20), dt.date(1901, 12, 14), dt.date(1901, 12, 13)]
    for year in (1, 4, 100, 400, 1600, 1700, 1900, 2000, 2004, 2020, 2021, 2100, 2400, 9996, 9999):
        for month, day in ((2, 28), (3, 1), (12, 31), (1, 1)):
            out.append(dt.date(year, month, day))
        if calendar.isleap(year):
            out.append(dt.date(year, 2, 29))
    # ISO week boundaries: the last days of December and the first of January
    for year in (2004, 2008, 2009, 2010, 2015, 2020, 2021, 2022, 2026, 2027):
        for day in (28, 29, 30, 31):
            out.append(dt.date(year, 12, day))
        for day in (1, 2, 3, 4):
            out.append(dt.date(year, 1, day))
    # month ends through a leap and a common year
    for year in (2023, 2024):
        for month in range(1, 13):
            out.append(dt.date(year, month, calendar.monthrange(year, month)[1]))
    return out


def day_rows():
    dates = fixed_dates()
    for _ in range(60):
        dates.append(dt.date.fromordinal(rng.randint(1, dt.date(9999, 12, 31).toordinal())))
    rows = []
    for d in dates:
        # a count of days that stays within years 1-9999
        low = dt.date(1, 1, 1).toordinal() - d.toordinal()
        high = dt.date(9999, 12, 31).toordinal() - d.toordinal()
        n = rng.choice([1, -1, 30, -30, 365, -366, rng.randint(-200000, 200000)])
        n = max(low, min(high, n))
        other = dt.date.fromordinal(rng.randint(1, dt.date(9999, 12, 31).toordinal()))
        epoch = (d - dt.date(1970, 1, 1)).days * 86400
        iso = d.isocalendar()
        rows.append(f"    {date_text(d)} {d.isoweekday()} {d.timetuple().tm_yday} {iso[1]} {sunday_week(d)} "
                    f"{epoch}.0 {n} {date_text(d + dt.timedelta(days=n))} {date_text(other)} {(d - other).days}")
    return rows


ZONES = [0, 60, -60, 330, -330, 345, -45, -30, 15, 945, -945, 600, -300, -600]


def zone_rows():
    """A local time in one zone, moved to another zone keeping the instant
    (the timezone setter), and the same local time plus a duration."""
    rows = []
    for _ in range(80):
        day = dt.date.fromordinal(rng.randint(dt.date(1, 1, 3).toordinal(), dt.date(9999, 12, 29).toordinal()))
        local = dt.datetime.combine(day, dt.time()) + dt.timedelta(seconds=rng.randrange(86400))
        zone = rng.choice(ZONES)
        new_zone = rng.choice(ZONES)
        instant = local - dt.timedelta(minutes=zone)
        moved = instant + dt.timedelta(minutes=new_zone)
        shift = rng.choice([rng.randrange(-200000, 200000), 86400, -86400, -1, 1])
        later = local + dt.timedelta(seconds=shift)
        rows.append(f"    {stamp_text(local, zone)} {zone_text(new_zone) or '+00:00'} {stamp_text(moved, new_zone)} "
                    f"{shift} {stamp_text(later, zone)} {int(calendar.timegm(instant.timetuple()))}.0")
    return rows


def epoch_rows():
    """to date! of seconds since 1970 (UTC)."""
    rows = []
    for n in [0, -1, 1, 86399, 86400, -86400, -86401, 2147483647, -2147483648, 951782400, 951868799]:
        rows.append(f"    {n} {stamp_text(dt.datetime(1970, 1, 1) + dt.timedelta(seconds=n), 0)}")
    for _ in range(20):
        n = rng.randint(-2147483648, 2147483647)
        rows.append(f"    {n} {stamp_text(dt.datetime(1970, 1, 1) + dt.timedelta(seconds=n), 0)}")
    return rows


print('Kiv [Title: "Date cases computed by tests/tools/gen_date_cases.py with Python datetime"]')
print()
print("; date weekday yearday isoweek week seconds-since-1970 n date+n other date-other")
print("day-cases: [")
print("\n".join(day_rows()))
print("]")
print()
print("; local zone new-zone moved-to-new-zone seconds local+seconds seconds-since-1970")
print("zone-cases: [")
print("\n".join(zone_rows()))
print("]")
print()
print("; seconds-since-1970 date")
print("epoch-cases: [")
print("\n".join(epoch_rows()))
print("]")
