local n = 1000000
local v = {}
for i = 1, n do v[i] = 0.0 end
for _ = 1, 50 do
  for i = 1, n do
    v[i] = v[i] * 2.0 + 1.0
  end
end
print(string.format("%d %d %d", math.floor(v[1] / 1048576.0), math.floor(v[n] / 1048576.0), #v))
