local n = 10000000
c = 0
for _ = 1, n do c = c + 1 end
s = 0
i = 1
while i <= n do s = s + i; i = i + 1 end
print(c, s)

local function count_and_sum(n)
  local c = 0
  for _ = 1, n do c = c + 1 end
  local s, i = 0, 1
  while i <= n do s = s + i; i = i + 1 end
  return c, s
end
print(count_and_sum(n))
