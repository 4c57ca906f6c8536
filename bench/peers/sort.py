# Sorting 500,000 pseudo-random integers (the generator of sort.kiv).
seed = 42
numbers = []
for _ in range(500000):
    hi = seed // 127773
    seed = 16807 * (seed % 127773) - 2836 * hi
    if seed <= 0:
        seed += 2147483647
    numbers.append(seed)
numbers.sort()
print(numbers[0], numbers[249999], numbers[499999])
