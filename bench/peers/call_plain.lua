-- Lua has no implicit result, so this is the same function as call_return.lua.
local function plain(a, b) return a + b end

local n = 0
for _ = 1, 1000000 do n = plain(n, 1) end
print(n)
