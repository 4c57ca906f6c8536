import re


def main():
    s = "a bb ccc dddd eeeee ffffff " * 222222
    n = 0
    for _ in re.finditer(r"[^ ]* ", s):
        n += 1
    print(len(s), n)


main()
