parts = []
for i in range(1_000_000):
    parts.append("ab")
s = "".join(parts)
print(len(s))
