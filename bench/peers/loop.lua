local count = 0
local i = 0
for _ = 1, 5000000 do
  i = i + 1
  if i % 3 == 0 then count = count + 1 end
end
print(count)
