-- A small JSON reader and writer in plain Lua for the JSON benchmarks
-- (no C module). null reads as json_null so that objects keep their keys.
local M = {}
M.null = setmetatable({}, {__tostring = function() return "null" end})

local byte, sub, find, char, concat = string.byte, string.sub, string.find, string.char, table.concat
local escapes = {[34] = '"', [92] = "\\", [47] = "/", [98] = "\b", [102] = "\f", [110] = "\n", [114] = "\r", [116] = "\t"}

local function utf8_of(cp)
  return utf8.char(cp)
end

local decode_value

local function skip(s, i)
  local _, e = find(s, "^[ \t\r\n]*", i)
  return e + 1
end

local function decode_string(s, i)
  -- i is at the opening quote
  local parts, n, j = {}, 0, i + 1
  while true do
    local a, b = find(s, '^[^"\\]+', j)
    if a then n = n + 1; parts[n] = sub(s, a, b); j = b + 1 end
    local c = byte(s, j)
    if c == 34 then return concat(parts), j + 1 end
    if c ~= 92 then error("bad string at " .. j) end
    local e = byte(s, j + 1)
    if e == 117 then
      local cp = tonumber(sub(s, j + 2, j + 5), 16)
      j = j + 6
      if cp >= 0xD800 and cp <= 0xDBFF and sub(s, j, j + 1) == "\\u" then
        local low = tonumber(sub(s, j + 2, j + 5), 16)
        cp = 0x10000 + (cp - 0xD800) * 1024 + (low - 0xDC00)
        j = j + 6
      end
      n = n + 1; parts[n] = utf8_of(cp)
    else
      n = n + 1; parts[n] = escapes[e] or error("bad escape at " .. j)
      j = j + 2
    end
  end
end

decode_value = function(s, i)
  i = skip(s, i)
  local c = byte(s, i)
  if c == 123 then
    local obj = {}
    i = skip(s, i + 1)
    if byte(s, i) == 125 then return obj, i + 1 end
    while true do
      local key
      key, i = decode_string(s, skip(s, i))
      i = skip(s, i)
      if byte(s, i) ~= 58 then error("colon expected at " .. i) end
      obj[key], i = decode_value(s, i + 1)
      i = skip(s, i)
      c = byte(s, i)
      if c == 125 then return obj, i + 1 end
      if c ~= 44 then error("comma expected at " .. i) end
      i = i + 1
    end
  elseif c == 91 then
    local arr, n = {}, 0
    i = skip(s, i + 1)
    if byte(s, i) == 93 then return arr, i + 1 end
    while true do
      n = n + 1
      arr[n], i = decode_value(s, i)
      i = skip(s, i)
      c = byte(s, i)
      if c == 93 then return arr, i + 1 end
      if c ~= 44 then error("comma expected at " .. i) end
      i = i + 1
    end
  elseif c == 34 then
    return decode_string(s, i)
  elseif sub(s, i, i + 3) == "true" then
    return true, i + 4
  elseif sub(s, i, i + 4) == "false" then
    return false, i + 5
  elseif sub(s, i, i + 3) == "null" then
    return M.null, i + 4
  end
  local a, b = find(s, "^-?%d+%.?%d*[eE]?[-+]?%d*", i)
  if not a then error("value expected at " .. i) end
  return tonumber(sub(s, a, b)), b + 1
end

function M.decode(s)
  local value, i = decode_value(s, 1)
  if skip(s, i) <= #s then error("trailing text at " .. i) end
  return value
end

local quote_escapes = {['"'] = '\\"', ["\\"] = "\\\\", ["\b"] = "\\b", ["\f"] = "\\f", ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t"}
local function quote(s)
  return '"' .. s:gsub('[%c"\\]', function(c) return quote_escapes[c] or string.format("\\u%04X", byte(c)) end) .. '"'
end

local function encode(v, out)
  local t = type(v)
  if v == M.null then out[#out + 1] = "null"
  elseif t == "boolean" then out[#out + 1] = v and "true" or "false"
  elseif t == "number" then
    if math.type(v) == "integer" then out[#out + 1] = tostring(v)
    elseif v == math.floor(v) then out[#out + 1] = string.format("%.1f", v)
    else out[#out + 1] = string.format("%.17g", v) end
  elseif t == "string" then out[#out + 1] = quote(v)
  elseif v[1] ~= nil or next(v) == nil then
    out[#out + 1] = "["
    for k = 1, #v do
      if k > 1 then out[#out + 1] = "," end
      encode(v[k], out)
    end
    out[#out + 1] = "]"
  else
    out[#out + 1] = "{"
    local first = true
    for k, x in pairs(v) do
      if not first then out[#out + 1] = "," end
      first = false
      out[#out + 1] = quote(k)
      out[#out + 1] = ":"
      encode(x, out)
    end
    out[#out + 1] = "}"
  end
end

function M.encode(v)
  local out = {}
  encode(v, out)
  return concat(out)
end

return M
