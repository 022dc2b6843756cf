#include "datatypes/pair.h"

#include "datatypes/registry.h"
#include "datatypes/types.h"

namespace vyx::pair {

void register_type() { Registration(TYPE_PAIR, 0, "pair!").hasher(hash_payload_bytes<2, 8>).commit(); }

}  // namespace vyx::pair
