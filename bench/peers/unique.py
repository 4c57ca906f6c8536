def main():
    # x steps by 7919 modulo the prime 500009: every residue comes twice,
    # scattered. dict.fromkeys keeps the first of each, in order, as unique does.
    data = []
    x = 0
    for _ in range(1000000):
        x = (x + 7919) % 500009
        data.append(x)
    u = list(dict.fromkeys(data))
    print(len(u), u[999], u[-1])


main()
