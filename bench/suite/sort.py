x = 1
data = []
for _ in range(1_000_000):
    x = (x * 75 + 74) % 65537
    data.append(x)
data.sort()
print(data[0], data[499_999], data[999_999])
