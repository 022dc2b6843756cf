// Datatypes whose handlers are not built yet. Each registers its name and
// parent so that type ids, names and inheritance are in place; its row stays
// unsupported until the datatype gets a source of its own and moves there.
#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx {

#define VYX_PENDING_TYPE(ns, id, parent, name) \
    namespace ns {                            \
    void register_type() { Registration(id, parent, name).commit(); } \
    }

VYX_PENDING_TYPE(series, TYPE_SERIES, 0, "series!")
VYX_PENDING_TYPE(block, TYPE_BLOCK, TYPE_SERIES, "block!")
VYX_PENDING_TYPE(binary, TYPE_BINARY, TYPE_STRING, "binary!")
VYX_PENDING_TYPE(integer, TYPE_INTEGER, 0, "integer!")
VYX_PENDING_TYPE(symbol, TYPE_SYMBOL, 0, "symbol!")
VYX_PENDING_TYPE(context, TYPE_CONTEXT, 0, "context!")
VYX_PENDING_TYPE(word, TYPE_WORD, TYPE_SYMBOL, "word!")
VYX_PENDING_TYPE(lit_word, TYPE_LIT_WORD, TYPE_WORD, "lit-word!")
VYX_PENDING_TYPE(set_word, TYPE_SET_WORD, TYPE_WORD, "set-word!")
VYX_PENDING_TYPE(get_word, TYPE_GET_WORD, TYPE_WORD, "get-word!")
VYX_PENDING_TYPE(refinement, TYPE_REFINEMENT, TYPE_WORD, "refinement!")
VYX_PENDING_TYPE(char_, TYPE_CHAR, TYPE_INTEGER, "char!")
VYX_PENDING_TYPE(native, TYPE_NATIVE, 0, "native!")
VYX_PENDING_TYPE(action, TYPE_ACTION, TYPE_NATIVE, "action!")
VYX_PENDING_TYPE(op, TYPE_OP, TYPE_NATIVE, "op!")
VYX_PENDING_TYPE(path, TYPE_PATH, TYPE_BLOCK, "path!")
VYX_PENDING_TYPE(lit_path, TYPE_LIT_PATH, TYPE_PATH, "lit-path!")
VYX_PENDING_TYPE(set_path, TYPE_SET_PATH, TYPE_PATH, "set-path!")
VYX_PENDING_TYPE(get_path, TYPE_GET_PATH, TYPE_PATH, "get-path!")
VYX_PENDING_TYPE(function, TYPE_FUNCTION, TYPE_CONTEXT, "function!")
VYX_PENDING_TYPE(routine, TYPE_ROUTINE, TYPE_FUNCTION, "routine!")
VYX_PENDING_TYPE(paren, TYPE_PAREN, TYPE_BLOCK, "paren!")
VYX_PENDING_TYPE(issue, TYPE_ISSUE, TYPE_WORD, "issue!")
VYX_PENDING_TYPE(url, TYPE_URL, TYPE_STRING, "url!")
VYX_PENDING_TYPE(file, TYPE_FILE, TYPE_URL, "file!")
VYX_PENDING_TYPE(object, TYPE_OBJECT, 0, "object!")
VYX_PENDING_TYPE(bitset, TYPE_BITSET, 0, "bitset!")
VYX_PENDING_TYPE(triple, TYPE_TRIPLE, 0, "triple!")
VYX_PENDING_TYPE(float_, TYPE_FLOAT, 0, "float!")
VYX_PENDING_TYPE(typeset, TYPE_TYPESET, 0, "typeset!")
VYX_PENDING_TYPE(error, TYPE_ERROR, TYPE_OBJECT, "error!")
VYX_PENDING_TYPE(vector, TYPE_VECTOR, TYPE_STRING, "vector!")
VYX_PENDING_TYPE(map, TYPE_MAP, 0, "map!")
VYX_PENDING_TYPE(hash, TYPE_HASH, TYPE_BLOCK, "hash!")
VYX_PENDING_TYPE(pair, TYPE_PAIR, 0, "pair!")
VYX_PENDING_TYPE(percent, TYPE_PERCENT, TYPE_FLOAT, "percent!")
VYX_PENDING_TYPE(tuple, TYPE_TUPLE, 0, "tuple!")
VYX_PENDING_TYPE(time, TYPE_TIME, TYPE_FLOAT, "time!")
VYX_PENDING_TYPE(tag, TYPE_TAG, TYPE_STRING, "tag!")
VYX_PENDING_TYPE(email, TYPE_EMAIL, TYPE_STRING, "email!")
VYX_PENDING_TYPE(handle, TYPE_HANDLE, TYPE_INTEGER, "handle!")
VYX_PENDING_TYPE(date, TYPE_DATE, 0, "date!")
VYX_PENDING_TYPE(port, TYPE_PORT, TYPE_OBJECT, "port!")
VYX_PENDING_TYPE(money, TYPE_MONEY, 0, "money!")
VYX_PENDING_TYPE(ref, TYPE_REF, TYPE_STRING, "ref!")
VYX_PENDING_TYPE(point2d, TYPE_POINT2D, 0, "point2D!")
VYX_PENDING_TYPE(point3d, TYPE_POINT3D, 0, "point3D!")
VYX_PENDING_TYPE(image, TYPE_IMAGE, TYPE_SERIES, "image!")

}  // namespace vyx
