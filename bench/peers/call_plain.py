# Python has no implicit result: a lambda is the closest form without `return`.
plain = lambda a, b: a + b

n = 0
for _ in range(1000000):
    n = plain(n, 1)
print(n)
