def main():
    m = {}
    for i in range(1, 200001):
        m[i] = i % 100
    total = 0
    for i in range(1, 400001):
        v = m.get(i)
        if v is not None:
            total += v
    print(len(m), total)


main()
