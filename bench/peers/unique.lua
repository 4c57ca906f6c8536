-- x steps by 7919 modulo the prime 500009: every residue comes twice,
-- scattered. A seen-table keeps the first of each, in order, as unique does.
local data = {}
local x = 0
for k = 1, 1000000 do
  x = (x + 7919) % 500009
  data[k] = x
end
local seen, u, n = {}, {}, 0
for k = 1, #data do
  local v = data[k]
  if not seen[v] then
    seen[v] = true
    n = n + 1
    u[n] = v
  end
end
print(n .. " " .. u[1000] .. " " .. u[n])
