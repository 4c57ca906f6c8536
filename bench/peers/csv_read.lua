-- Reads the CSV table with a plain Lua reader: quoted fields with doubled
-- quotes and line breaks inside, LF or CR LF line ends.
local here = arg[0]:match("(.*/)") or "./"
local f = assert(io.open(here .. "../data/table.csv", "rb"))
local text = f:read("a")
f:close()

local rows, row = {}, {}
local pos, len = 1, #text
while pos <= len do
  local field
  if text:byte(pos) == 34 then  -- a quoted field
    local parts, start = {}, pos + 1
    while true do
      local q = assert(text:find('"', start, true), "unterminated quote")
      parts[#parts + 1] = text:sub(start, q - 1)
      if text:byte(q + 1) == 34 then
        parts[#parts + 1] = '"'
        start = q + 2
      else
        pos = q + 1
        break
      end
    end
    field = table.concat(parts)
  else
    local stop = text:find("[,\r\n]", pos) or len + 1
    field = text:sub(pos, stop - 1)
    pos = stop
  end
  row[#row + 1] = field
  local c = text:byte(pos)
  if c == 44 then
    pos = pos + 1
    if pos > len then row[#row + 1] = "" end
  else
    if c == 13 then pos = pos + 1 end
    if text:byte(pos) == 10 then pos = pos + 1 end
    rows[#rows + 1] = row
    row = {}
  end
end
print(#rows .. " " .. #rows[#rows])
