local size = 200
local total = 0
for y = 0, size - 1 do
  local ci = 2.0 * y / size - 1.0
  for x = 0, size - 1 do
    local cr = 2.0 * x / size - 1.5
    local zr, zi = 0.0, 0.0
    local i = 0
    while i < 50 and zr * zr + zi * zi <= 4.0 do
      local t = zr * zr - zi * zi + cr
      zi = 2.0 * zr * zi + ci
      zr = t
      i = i + 1
    end
    total = total + i
  end
end
print(total)
