-- Lua strings are immutable, so repeated s = s .. "abc" copies the whole
-- string every round; a buffer table joined once is the idiomatic equivalent.
local parts = {}
for k = 1, 1000000 do
  parts[k] = "abc"
end
local s = table.concat(parts)
print(#s)
