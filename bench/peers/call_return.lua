local function returning(a, b) return a + b end

local n = 0
for _ = 1, 1000000 do n = returning(n, 1) end
print(n)
