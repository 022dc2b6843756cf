#!/usr/bin/env python3
"""Turns boot/errors.vyx into the C++ error table.

Usage: gen_catalog.py <errors.vyx> <output dir>

Writes error_ids.h (category numbers and one Id constant per entry) and
error_catalog_data.cpp (titles, names and messages as parts) so that C++ code
can raise and report errors before the language catalog exists. The reader
understands only what the catalog needs: set-words, words, get-words,
integers, strings in double quotes or braces with caret escapes, blocks and
; comments. Anything else stops the build with the file position.
"""
import os
import re
import sys


class CatalogError(Exception):
    pass


ESCAPE_NAMES = {"null": 0, "back": 8, "tab": 9, "line": 10, "page": 12, "esc": 27, "del": 127}
SINGLE_ESCAPES = {'"': '"', '-': '\t', '/': '\n', '@': '\0', '^': '^', '{': '{', '}': '}', '~': '\x7f'}
WORD_CHARS = re.compile(r"[^\s\[\](){}\";:]+")


class Token:
    def __init__(self, kind, value, raw, line):
        self.kind = kind      # '[', ']', 'set-word', 'get-word', 'word', 'integer', 'string'
        self.value = value
        self.raw = raw        # the lexeme as written
        self.line = line


def decode_escape(text, i, line):
    """text[i] is the character after ^; returns (decoded char, index after)."""
    if i >= len(text):
        raise CatalogError(f"line {line}: lone ^ at end of string")
    c = text[i]
    if c == '(':
        close = text.find(')', i)
        if close < 0:
            raise CatalogError(f"line {line}: unterminated ^( escape")
        body = text[i + 1:close]
        if body.lower() in ESCAPE_NAMES:
            return chr(ESCAPE_NAMES[body.lower()]), close + 1
        if not body or len(body) > 6 or not all(ch in "0123456789abcdefABCDEF" for ch in body):
            raise CatalogError(f"line {line}: invalid escape ^({body})")
        return chr(int(body, 16)), close + 1
    if c in SINGLE_ESCAPES:
        return SINGLE_ESCAPES[c], i + 1
    if 'a' <= c <= 'z':
        return chr(ord(c) - 96), i + 1
    if 65 <= ord(c) <= 95:
        return chr(ord(c) - 64), i + 1
    return c, i + 1


def tokenize(text):
    tokens = []
    i, line, n = 0, 1, len(text)
    while i < n:
        c = text[i]
        if c == '\n':
            line += 1
            i += 1
        elif c.isspace():
            i += 1
        elif c == ';':
            while i < n and text[i] != '\n':
                i += 1
        elif c in '[]':
            tokens.append(Token(c, c, c, line))
            i += 1
        elif c == '"':
            start, out = i, []
            i += 1
            while True:
                if i >= n or text[i] == '\n':
                    raise CatalogError(f"line {line}: unterminated string")
                ch = text[i]
                if ch == '"':
                    i += 1
                    break
                if ch == '^':
                    ch, i = decode_escape(text, i + 1, line)
                else:
                    i += 1
                out.append(ch)
            tokens.append(Token('string', ''.join(out), text[start:i], line))
        elif c == '{':
            start, start_line, out, depth = i, line, [], 1
            i += 1
            while True:
                if i >= n:
                    raise CatalogError(f"line {start_line}: unterminated {{ string")
                ch = text[i]
                if ch == '{':
                    depth += 1
                elif ch == '}':
                    depth -= 1
                    if depth == 0:
                        i += 1
                        break
                elif ch == '\n':
                    line += 1
                if ch == '^':
                    ch, i = decode_escape(text, i + 1, line)
                else:
                    i += 1
                out.append(ch)
            tokens.append(Token('string', ''.join(out), text[start:i], start_line))
        else:
            m = WORD_CHARS.match(text, i + 1 if c == ':' else i)
            if not m:
                raise CatalogError(f"line {line}: unexpected character {c!r}")
            name, end = m.group(0), m.end()
            if c == ':':
                tokens.append(Token('get-word', name, text[i:end], line))
            elif end < n and text[end] == ':':
                end += 1
                tokens.append(Token('set-word', name, text[i:end], line))
            elif re.fullmatch(r"[+-]?\d+", name):
                tokens.append(Token('integer', int(name), name, line))
            elif name[0].isdigit():
                raise CatalogError(f"line {line}: not a value of the catalog: {name}")
            else:
                tokens.append(Token('word', name, name, line))
            i = end
    return tokens


def parse_block(tokens, pos):
    """tokens[pos] is '['; returns (list of tokens or nested lists, index after ']')."""
    items = []
    pos += 1
    while True:
        if pos >= len(tokens):
            raise CatalogError(f"line {tokens[-1].line}: missing ]")
        t = tokens[pos]
        if t.kind == ']':
            return items, pos + 1
        if t.kind == '[':
            inner, pos = parse_block(tokens, pos)
            items.append(inner)
        else:
            items.append(t)
            pos += 1


ARG_WORDS = {"arg1": 1, "arg2": 2, "arg3": 3}


def arg_number(token):
    if token.value not in ARG_WORDS:
        raise CatalogError(f"line {token.line}: a message may only name arg1, arg2 or arg3, not {token.raw}")
    return ARG_WORDS[token.value]


def make_message(value, line):
    """Returns (kind, parts, source text); parts are ('text', s) / ('get', n) / ('word', n)."""
    if isinstance(value, Token) and value.kind == 'string':
        return 'string', [('text', value.value)], value.raw
    if isinstance(value, Token) and value.kind == 'word':
        return 'word', [('word', arg_number(value))], value.raw
    if isinstance(value, list):
        parts, raws = [], []
        for item in value:
            if isinstance(item, list) or item.kind not in ('string', 'word', 'get-word'):
                where = item.line if isinstance(item, Token) else line
                raise CatalogError(f"line {where}: a template holds only strings and words")
            if item.kind == 'string':
                parts.append(('text', item.value))
            else:
                parts.append(('get' if item.kind == 'get-word' else 'word', arg_number(item)))
            raws.append(item.raw)
        return 'block', parts, '[' + ' '.join(raws) + ']'
    raise CatalogError(f"line {line}: a message is a string, a block or a word")


def parse_catalog(text):
    tokens = tokenize(text)
    categories = []
    pos = 0
    while pos < len(tokens):
        t = tokens[pos]
        if t.kind != 'set-word' or pos + 1 >= len(tokens) or tokens[pos + 1].kind != '[':
            raise CatalogError(f"line {t.line}: expected a category as name: [...]")
        body, pos = parse_block(tokens, pos + 1)
        if len(body) % 2:
            raise CatalogError(f"line {t.line}: category {t.value} has a field without a value")
        fields = [(body[k], body[k + 1]) for k in range(0, len(body), 2)]
        for key, _ in fields:
            if not isinstance(key, Token) or key.kind != 'set-word':
                raise CatalogError(f"line {t.line}: category {t.value}: expected field: value pairs")
        if (len(fields) < 2 or fields[0][0].value != 'code' or fields[1][0].value != 'type'):
            raise CatalogError(f"line {t.line}: category {t.value} must start with code: and type:")
        code, title = fields[0][1], fields[1][1]
        if not isinstance(code, Token) or code.kind != 'integer':
            raise CatalogError(f"line {t.line}: code of {t.value} is not an integer")
        if code.value != 100 * len(categories):
            raise CatalogError(f"line {code.line}: {t.value} is category {len(categories)}, "
                               f"so its code must be {100 * len(categories)}, not {code.value}")
        if not isinstance(title, Token) or title.kind != 'string':
            raise CatalogError(f"line {t.line}: type of {t.value} is not a string")
        entries, seen = [], {'code', 'type'}
        for key, value in fields[2:]:
            if key.value in seen:
                raise CatalogError(f"line {key.line}: {t.value}/{key.value} appears twice")
            seen.add(key.value)
            kind, parts, source = make_message(value, key.line)
            entries.append({'name': key.value, 'kind': kind, 'parts': parts, 'source': source})
        if len(entries) > 100:
            raise CatalogError(f"line {t.line}: {t.value} has more than 100 entries")
        if any(c['name'] == t.value for c in categories):
            raise CatalogError(f"line {t.line}: category {t.value} appears twice")
        categories.append({'name': t.value, 'code': code.value, 'title': title.value, 'entries': entries})
    if not categories:
        raise CatalogError("the catalog is empty")
    if len(categories) > 256:
        raise CatalogError("more categories than an 8-bit id can name")
    return categories


def identifier(name):
    """A Vyx word as the tail of a C++ identifier (a trailing ? becomes an is_ prefix)."""
    prefix = ''
    if name.endswith('?'):
        prefix, name = 'is_', name[:-1]
    return prefix + re.sub(r'[^A-Za-z0-9]', '_', name)


def c_string(s):
    out = ['"']
    for b in s.encode('utf-8'):
        ch = chr(b)
        if ch in '"\\':
            out.append('\\' + ch)
        elif 32 <= b < 127:
            out.append(ch)
        else:
            out.append('\\%03o' % b)  # octal: never swallows a following digit
    out.append('"')
    return ''.join(out)


def write_if_changed(path, content):
    # An unchanged header keeps its time stamp, so the files including it are not rebuilt.
    try:
        with open(path, encoding='utf-8') as f:
            if f.read() == content:
                return False
    except FileNotFoundError:
        pass
    tmp = path + '.tmp'
    with open(tmp, 'w', encoding='utf-8', newline='\n') as f:
        f.write(content)
    os.replace(tmp, path)
    return True


def render_header(categories):
    lines = [
        "// Generated by scripts/gen_catalog.py from boot/errors.vyx: edit that file instead.",
        "#pragma once",
        "#include <cstdint>",
        "",
        "namespace vyx::err {",
        "",
        "// An error as the runtime raises it: the category's position in the catalog",
        "// and the entry's position in the category object, where `code` is 0 and",
        "// `type` is 1, so the first entry of a category is 2.",
        "struct Id {",
        "    uint8_t category;",
        "    uint8_t entry;",
        "};",
        "",
        "enum Category : uint8_t {",
    ]
    for i, cat in enumerate(categories):
        lines.append(f"    CAT_{identifier(cat['name']).upper()} = {i},")
    lines += ["};", "", f"inline constexpr int CATEGORY_COUNT = {len(categories)};",
              "inline constexpr int FIRST_ENTRY = 2;", ""]
    seen = {}
    for ci, cat in enumerate(categories):
        lines.append(f"// {cat['name']}: {c_string(cat['title'])}")
        for ei, entry in enumerate(cat['entries']):
            ident = f"{identifier(cat['name'])}_{identifier(entry['name'])}"
            if ident in seen:
                raise CatalogError(f"{cat['name']}/{entry['name']} and {seen[ident]} both become {ident}")
            seen[ident] = f"{cat['name']}/{entry['name']}"
            lines.append(f"inline constexpr Id {ident}{{{ci}, {ei + 2}}};  // {cat['code'] + ei}")
        lines.append("")
    lines += ["}  // namespace vyx::err", ""]
    return "\n".join(lines)


def render_source(categories):
    lines = [
        "// Generated by scripts/gen_catalog.py from boot/errors.vyx: edit that file instead.",
        '#include "runtime/error_catalog.h"',
        "",
        "namespace vyx::err {",
        "namespace {",
        "",
    ]
    part_kind = {'text': 'PartKind::Text', 'get': 'PartKind::GetArg', 'word': 'PartKind::WordArg'}
    msg_kind = {'string': 'MessageKind::String', 'block': 'MessageKind::Block', 'word': 'MessageKind::Word'}
    for ci, cat in enumerate(categories):
        for ei, entry in enumerate(cat['entries']):
            items = []
            for kind, v in entry['parts']:
                if kind == 'text':
                    items.append(f"{{{part_kind[kind]}, 0, {c_string(v)}}}")
                else:
                    items.append(f"{{{part_kind[kind]}, {v}, nullptr}}")
            lines.append(f"const MessagePart parts_{ci}_{ei}[] = {{{', '.join(items)}}};")
    lines.append("")
    for ci, cat in enumerate(categories):
        if not cat['entries']:
            continue
        lines.append(f"const EntryInfo entries_{ci}[] = {{")
        for ei, entry in enumerate(cat['entries']):
            lines.append(f"    {{{cat['code'] + ei}, {c_string(entry['name'])}, {msg_kind[entry['kind']]}, "
                         f"parts_{ci}_{ei}, {len(entry['parts'])}, {c_string(entry['source'])}}},")
        lines.append("};")
    lines += ["", "}  // namespace", "", "namespace detail {",
              "const CategoryInfo category_table[CATEGORY_COUNT] = {"]
    for ci, cat in enumerate(categories):
        entries = f"entries_{ci}" if cat['entries'] else "nullptr"
        lines.append(f"    {{{cat['code']}, {c_string(cat['name'])}, {c_string(cat['title'])}, "
                     f"{entries}, {len(cat['entries'])}}},")
    lines += ["};", "}  // namespace detail", "", "}  // namespace vyx::err", ""]
    return "\n".join(lines)


def main(argv):
    if len(argv) != 3:
        print("usage: gen_catalog.py <errors.vyx> <output dir>", file=sys.stderr)
        return 2
    source, out_dir = argv[1], argv[2]
    try:
        with open(source, encoding='utf-8') as f:
            categories = parse_catalog(f.read())
        header = render_header(categories)
        data = render_source(categories)
    except CatalogError as e:
        print(f"{source}: {e}", file=sys.stderr)
        return 1
    os.makedirs(out_dir, exist_ok=True)
    write_if_changed(os.path.join(out_dir, 'error_ids.h'), header)
    write_if_changed(os.path.join(out_dir, 'error_catalog_data.cpp'), data)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
