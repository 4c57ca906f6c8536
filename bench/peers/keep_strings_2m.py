def main():
    # A Kiv string is mutable and copy makes a new one; bytearray is
    # Python's fresh mutable string.
    b = []
    for _ in range(2000000):
        b.append(bytearray(b"a"))
    print(len(b))


main()
