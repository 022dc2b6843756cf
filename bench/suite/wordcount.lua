local f = assert(io.open(arg[1], "r"))
local text = f:read("a")
f:close()
local counts = {}
for w in text:gmatch("%l+") do counts[w] = (counts[w] or 0) + 1 end
local list = {}
for w, n in pairs(counts) do list[#list + 1] = {w, n} end
table.sort(list, function(a, b) if a[2] ~= b[2] then return a[2] > b[2] end return a[1] < b[1] end)
for k = 1, 10 do print(list[k][1], list[k][2]) end
