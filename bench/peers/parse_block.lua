local key = {word = "key"}
local data = {}
local n = 0
for i = 1, 332667 do
  data[n + 1], data[n + 2], data[n + 3] = key, i % 1000, "v"
  n = n + 3
  if i % 1000 == 0 then
    n = n + 1
    data[n] = {{word = "mark"}}
  end
end
local sum, marks, pos, ok = 0, 0, 1, true
while pos <= n do
  local item = data[pos]
  if item.word and pos + 2 <= n and math.type(data[pos + 1]) == "integer" and type(data[pos + 2]) == "string" then
    sum = sum + data[pos + 1]
    pos = pos + 3
  elseif type(item) == "table" and not item.word and #item == 1 and item[1].word == "mark" then
    marks = marks + 1
    pos = pos + 1
  else
    ok = false
    break
  end
end
print((ok and "true" or "false") .. " " .. n .. " " .. sum .. " " .. marks)
