-- Sorting 500,000 pseudo-random integers (the generator of sort.kiv).
local seed = 42
local numbers = {}
for i = 1, 500000 do
  local hi = seed // 127773
  seed = 16807 * (seed % 127773) - 2836 * hi
  if seed <= 0 then seed = seed + 2147483647 end
  numbers[i] = seed
end
table.sort(numbers)
print(numbers[1] .. " " .. numbers[250000] .. " " .. numbers[500000])
