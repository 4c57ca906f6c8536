class Word:
    __slots__ = ("name",)

    def __init__(self, name):
        self.name = name


def main():
    key = Word("key")
    data = []
    for i in range(1, 332668):
        data += [key, i % 1000, "v"]
        if i % 1000 == 0:
            data.append([Word("mark")])
    total = 0
    marks = 0
    pos = 0
    end = len(data)
    ok = True
    while pos < end:
        item = data[pos]
        if (isinstance(item, Word) and pos + 2 < end and isinstance(data[pos + 1], int)
                and isinstance(data[pos + 2], str)):
            total += data[pos + 1]
            pos += 3
        elif isinstance(item, list) and len(item) == 1 and isinstance(item[0], Word) and item[0].name == "mark":
            marks += 1
            pos += 1
        else:
            ok = False
            break
    print("true" if ok else "false", len(data), total, marks)


main()
