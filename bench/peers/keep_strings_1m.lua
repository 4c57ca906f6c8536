-- Lua strings are interned: "a" is one object however often it is named.
-- A one-slot table is the fresh collectable object each round makes.
local b = {}
for k = 1, 1000000 do
  b[k] = {"a"}
end
print(#b)
