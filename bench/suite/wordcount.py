import re
import sys
from collections import Counter

with open(sys.argv[1], encoding="utf-8") as f:
    counts = Counter(re.findall(r"[a-z]+", f.read()))
for word, n in sorted(counts.items(), key=lambda kv: (-kv[1], kv[0]))[:10]:
    print(word, n)
