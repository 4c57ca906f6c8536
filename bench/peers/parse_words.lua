local s = string.rep("a bb ccc dddd eeeee ffffff ", 222222)
local n = 0
for _ in s:gmatch("[^ ]* ") do
  n = n + 1
end
print(#s .. " " .. n)
