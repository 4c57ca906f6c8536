local n = 1000000
local v = {}
for i = 1, n do v[i] = 0.0 end
for _ = 1, 10 do
  for i = 1, n do
    v[i] = v[i] * 2.0 + 1.0
  end
end
print(string.format("%d %d %d", math.tointeger(v[1]), math.tointeger(v[n]), #v))
