count = 0
i = 0
for _ in range(5000000):
    i += 1
    if i % 3 == 0:
        count += 1
print(count)
