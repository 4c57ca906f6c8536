from array import array

n = 1000000
v = array('d', bytes(8 * n))
for _ in range(50):
    for i in range(n):
        v[i] = v[i] * 2.0 + 1.0
print(int(v[0] / 1048576.0), int(v[n - 1] / 1048576.0), len(v))
