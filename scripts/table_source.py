"""Writes the C++ source of generated lookup tables: pair arrays of uint32_t,
each followed by its count, inside one namespace. Shared by the table
generators so that every generated file has the same layout.
"""


def write_pairs(out, name, pairs):
    """`const uint32_t name[][2]` with `name_count`, a few pairs a line."""
    out.write('const uint32_t %s[][2] = {\n' % name)
    line = ''
    for a, b in pairs:
        cell = '{0x%X, 0x%X}, ' % (a, b)
        if len(line) + len(cell) > 96:
            out.write('    ' + line.rstrip() + '\n')
            line = ''
        line += cell
    if line:
        out.write('    ' + line.rstrip() + '\n')
    out.write('};\n')
    out.write('const uint32_t %s_count = %d;\n\n' % (name, len(pairs)))


def write_source(out, banner, header, namespace, tables):
    """The whole file: the banner comment, the header it implements, then the
    (name, pairs) tables in order inside `namespace`."""
    out.write(banner)
    out.write('#include "%s"\n\nnamespace %s {\n\n' % (header, namespace))
    for name, pairs in tables:
        write_pairs(out, name, pairs)
    out.write('}  // namespace %s\n' % namespace)
