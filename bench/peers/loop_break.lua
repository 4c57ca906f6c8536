local n = 0
for _ = 1, 2000000 do
  n = n + 1
  if n == 1000000 then break end
end
print(n)
