#!/usr/bin/python3
"""Writes tests/kiv/datatypes/money_cases.txt: money arithmetic computed with
Python's decimal as an independent oracle (17 integer digits, 5 fraction
digits, products and quotients truncated toward zero). Run it again only to
change the table:

    /usr/bin/python3 tests/tools/gen_money_cases.py > tests/kiv/datatypes/money_cases.txt
"""
import random
from decimal import ROUND_DOWN, Decimal, getcontext

getcontext().prec = 60
rng = random.Random(181)
STEP = Decimal("0.00001")
LIMIT = Decimal(10) ** 17


def amount(integer_digits, fraction_digits):
    whole = rng.randrange(10 ** integer_digits) if integer_digits else 0
    fraction = rng.randrange(10 ** fraction_digits) if fraction_digits else 0
    value = Decimal(whole) + Decimal(fraction) / Decimal(10) ** fraction_digits
    return -value if rng.random() < 0.4 else value


def money_text(value):
    """mold/all of a money! value."""
    sign = "-" if value < 0 else ""
    whole, _, fraction = f"{abs(value):.5f}".partition(".")
    return f"{sign}${whole}.{fraction}"


def factor_text(value):
    """A float! literal whose shortest digits are `value` itself."""
    text = f"{value.normalize():f}"
    return text if "." in text else text + ".0"


def result(value):
    """The money result, or the word overflow (script/type-limit)."""
    if abs(value) >= LIMIT:
        return "overflow"
    return f'"{money_text(value)}"'


def truncated(exact):
    value = exact.quantize(STEP, rounding=ROUND_DOWN)
    if exact != 0 and value == 0:
        return "overflow"  # a non-zero result below 0.00001
    return result(value)


def sizes():
    return rng.choice([(0, 5), (1, 2), (3, 5), (8, 5), (12, 3), (17, 5), (17, 0), (16, 5), (5, 0)])


rows = []
edges = [(Decimal("99999999999999999.99999"), Decimal("0.00001")), (Decimal("0.00001"), Decimal("-0.00001")),
         (Decimal("-7"), Decimal("2")), (Decimal("1"), Decimal("3")), (Decimal("-1"), Decimal("3")),
         (Decimal("50000000000000000"), Decimal("50000000000000000")), (Decimal("0.00001"), Decimal("0.1")),
         (Decimal("10000000000000000"), Decimal("0.9")), (Decimal("12345.6789"), Decimal("0.001"))]
pairs = list(edges)
for _ in range(120):
    pairs.append((amount(*sizes()), amount(*sizes())))
for a, b in pairs:
    # the factor for * and / is a float! with at most 15 significant digits
    f = b
    digits = len(f.normalize().as_tuple().digits)
    if digits > 15:
        f = Decimal(f"{float(f):.15g}").quantize(STEP, rounding=ROUND_DOWN) or Decimal("1.5")
        if abs(f) >= LIMIT:
            f = Decimal("1.5")
    product = truncated(a * f)
    quotient = truncated(a / f) if f != 0 else "zero-divide"
    remainder = result((abs(a) % abs(b)).copy_sign(a)) if b != 0 else "zero-divide"
    rows.append(f'    {money_text(a)} {money_text(b)} {factor_text(f)} {result(a + b)} {result(a - b)} '
                f'{product} {quotient} {remainder}')

print('Kiv [Title: "Money cases computed by tests/tools/gen_money_cases.py with Python decimal"]')
print()
print("; a b f a+b a-b a*f a/f a//b (overflow: script/type-limit)")
print("money-cases: [")
print("\n".join(rows))
print("]")
