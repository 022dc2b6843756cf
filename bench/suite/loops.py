n = 10_000_000
c = 0
for _ in range(n):
    c += 1
s = 0
i = 1
while i <= n:
    s += i
    i += 1
print(c, s)


def count_and_sum(n):
    c = 0
    for _ in range(n):
        c += 1
    s = 0
    i = 1
    while i <= n:
        s += i
        i += 1
    return c, s


print(*count_and_sum(n))
