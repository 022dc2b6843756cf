m = {}
for i in range(1, 1_000_001):
    m[i] = i * 2
total = 0
for i in range(1, 1_000_001):
    total += m[i]
print(len(m), total)
