local here = arg[0]:match("(.*/)") or "./"
package.path = here .. "?.lua;" .. package.path
local json = require("json_lua")
local f = assert(io.open(here .. "../data/mixed.json", "rb"))
local data = json.decode(f:read("a"))
f:close()
print(#data .. " " .. data[#data].id)
