"""A test-only encoder of the LZ block format that VYXBIN payloads may be
packed in (the system itself only decodes it).

Stream: S and U as 32-bit little-endian words, then blocks: a 32-bit length L
and a bit stream (least significant bit first, padded to a byte) of literals
(flag 0, 8 bits) and matches (flag 1, a length code for 3 to 566 bytes, then a
distance code for 1 to 262144 bytes back within the block)."""
import random
import struct

MAX_BLOCK = 0x100000
MAX_MATCH = 566
MAX_DISTANCE = 1 << 18


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.count = 0

    def put(self, value, bits):
        self.acc |= value << self.count
        self.count += bits
        while self.count >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.count -= 8

    def flush(self):
        if self.count:
            self.out.append(self.acc & 0xFF)
        self.acc = self.count = 0
        return bytes(self.out)


def put_match(w, length, distance):
    n = length - 3
    w.put(1, 1)
    for base, extra, prefix in ((0, 2, 1), (4, 2, 2), (8, 2, 3), (12, 3, 4), (20, 5, 5)):
        if n < base + (1 << extra):
            for _ in range(prefix - 1):
                w.put(0, 1)
            w.put(1, 1)
            w.put(n - base, extra)
            break
    else:
        w.put(0, 5)
        w.put(n - 52, 9)
    b = distance - 1
    if b < 8:
        w.put(0, 4)
        w.put(b, 3)
    else:
        j = b.bit_length() - 1
        w.put(j - 2, 4)
        w.put(b - (1 << j), j)


def pack_block(data, rng=None):
    """One block: greedy matching over a hash of 3-byte prefixes. With an rng,
    matches are sometimes cut short or skipped, to vary the codes used."""
    w = BitWriter()
    heads = {}
    i = 0
    n = len(data)
    while i < n:
        best_len, best_dist = 0, 0
        if i + 3 <= n:
            key = data[i:i + 3]
            for j in reversed(heads.get(key, [])[-16:]):
                d = i - j
                if d > MAX_DISTANCE:
                    break
                k = 0
                limit = min(MAX_MATCH, n - i)
                while k < limit and data[j + k] == data[i + k]:
                    k += 1
                if k > best_len:
                    best_len, best_dist = k, d
            heads.setdefault(key, []).append(i)
        if rng is not None and best_len >= 3:
            if rng.random() < 0.2:
                best_len = 0
            elif rng.random() < 0.3:
                best_len = rng.randint(3, best_len)
        if best_len >= 3:
            put_match(w, best_len, best_dist)
            for k in range(i + 1, min(i + best_len, n - 2)):
                heads.setdefault(data[k:k + 3], []).append(k)
            i += best_len
        else:
            w.put(0, 1)
            w.put(data[i], 8)
            i += 1
    return w.flush()


def pack(data, block_size=MAX_BLOCK, rng=None):
    body = bytearray()
    for start in range(0, len(data), block_size):
        chunk = data[start:start + block_size]
        body += struct.pack("<I", len(chunk)) + pack_block(chunk, rng)
    return struct.pack("<II", len(body), len(data)) + bytes(body)


def pack_vyxbin(binary, rng=None, block_size=MAX_BLOCK):
    """The same VYXBIN with its payload packed: the first 8 bytes stay plain."""
    header = bytearray(binary[:8])
    header[7] |= 2
    return bytes(header) + pack(binary[8:], block_size, rng)


def unpack(stream):
    """A reference decoder, for checking the encoder itself."""
    s, u = struct.unpack_from("<II", stream)
    pos, out = 8, bytearray()
    while pos - 8 < s:
        (length,) = struct.unpack_from("<I", stream, pos)
        pos += 4
        acc = count = 0

        def take(k):
            nonlocal acc, count, pos
            while count < k:
                acc |= stream[pos] << count
                pos += 1
                count += 8
            v = acc & ((1 << k) - 1)
            acc >>= k
            count -= k
            return v

        start = len(out)
        while len(out) - start < length:
            if not take(1):
                out.append(take(8))
                continue
            for base, extra in ((0, 2), (4, 2), (8, 2), (12, 3), (20, 5)):
                if take(1):
                    n = base + take(extra)
                    break
            else:
                n = 52 + take(9)
            j = take(4) + 2
            b = take(3) if j == 2 else (1 << j) + take(j)
            for _ in range(n + 3):
                out.append(out[-(b + 1)])
    assert len(out) == u
    return bytes(out)


if __name__ == "__main__":
    rng = random.Random(1)
    for size in (0, 1, 7, 100, 5000, 70000):
        data = bytes(rng.choice(b"abcab\x00") for _ in range(size))
        assert unpack(pack(data, 4096, rng)) == data
    print("ok")
