local function make_tree(depth)
  if depth == 0 then return {false, false} end
  return {make_tree(depth - 1), make_tree(depth - 1)}
end

local function count_nodes(node)
  if not node[1] then return 1 end
  return 1 + count_nodes(node[1]) + count_nodes(node[2])
end

local total = 0
for _ = 1, 20 do
  total = total + count_nodes(make_tree(14))
end
print(total)
