def returning(a, b):
    return a + b


n = 0
for _ in range(1000000):
    n = returning(n, 1)
print(n)
