class Word:
    __slots__ = ("name",)

    def __init__(self, name):
        self.name = name


def main():
    key = Word("key")
    chunk = []
    for i in range(1000):
        chunk += [key, i, "v"]
    chunk.append([Word("mark")])
    data = chunk * 333
    for _ in range(5):
        ok, total, marks = match(data)
    print("true" if ok else "false", len(data), total, marks)


def match(data):
    total = 0
    marks = 0
    pos = 0
    end = len(data)
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
            return False, total, marks
    return True, total, marks


main()
