-- Integer keys from 1 land in a Lua table's array part: the idiomatic
-- table all the same.
local m, count = {}, 0
for i = 1, 200000 do
  m[i] = i % 100
  count = count + 1
end
local total = 0
for i = 1, 400000 do
  local v = m[i]
  if v ~= nil then total = total + v end
end
print(count .. " " .. total)
