local parts = {}
for i = 1, 1000000 do parts[i] = "ab" end
local s = table.concat(parts)
print(#s)
