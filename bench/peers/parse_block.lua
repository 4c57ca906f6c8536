local key = {word = "key"}
local chunk = {}
for i = 0, 999 do
  chunk[#chunk + 1] = key
  chunk[#chunk + 1] = i
  chunk[#chunk + 1] = "v"
end
chunk[#chunk + 1] = {{word = "mark"}}
local data, n = {}, 0
for _ = 1, 333 do
  for k = 1, #chunk do
    n = n + 1
    data[n] = chunk[k]
  end
end

local function match()
  local sum, marks, pos = 0, 0, 1
  while pos <= n do
    local item = data[pos]
    if item.word and pos + 2 <= n and math.type(data[pos + 1]) == "integer" and type(data[pos + 2]) == "string" then
      sum = sum + data[pos + 1]
      pos = pos + 3
    elseif type(item) == "table" and not item.word and #item == 1 and item[1].word == "mark" then
      marks = marks + 1
      pos = pos + 1
    else
      return false, sum, marks
    end
  end
  return true, sum, marks
end

local ok, sum, marks
for _ = 1, 5 do
  ok, sum, marks = match()
end
print((ok and "true" or "false") .. " " .. n .. " " .. sum .. " " .. marks)
