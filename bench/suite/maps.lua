local m, count = {}, 0
for i = 1, 1000000 do m[i] = i * 2; count = count + 1 end
local total = 0
for i = 1, 1000000 do total = total + m[i] end
print(count, total)
