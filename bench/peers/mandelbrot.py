size = 200
total = 0
for y in range(size):
    ci = 2.0 * y / size - 1.0
    for x in range(size):
        cr = 2.0 * x / size - 1.5
        zr = zi = 0.0
        i = 0
        while i < 50 and zr * zr + zi * zi <= 4.0:
            t = zr * zr - zi * zi + cr
            zi = 2.0 * zr * zi + ci
            zr = t
            i += 1
        total += i
print(total)
