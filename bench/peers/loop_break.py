n = 0
for _ in range(2000000):
    n += 1
    if n == 1000000:
        break
print(n)
