def make_tree(depth):
    if depth == 0:
        return [None, None]
    return [make_tree(depth - 1), make_tree(depth - 1)]


def count_nodes(node):
    if node[0] is None:
        return 1
    return 1 + count_nodes(node[0]) + count_nodes(node[1])


total = 0
for _ in range(20):
    total += count_nodes(make_tree(14))
print(total)
