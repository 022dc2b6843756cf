local x = 1
local data = {}
for k = 1, 1000000 do
  x = (x * 75 + 74) % 65537
  data[k] = x
end
table.sort(data)
print(data[1], data[500000], data[1000000])
