// Every datatype registers its row of action handlers through its own
// register_type, called in the fixed order of register_all_datatypes.
#pragma once

namespace vyx {
namespace datatype { void register_type(); }
namespace unset { void register_type(); }
namespace none { void register_type(); }
namespace logic { void register_type(); }
namespace series { void register_type(); }
namespace block { void register_type(); }
namespace string { void register_type(); }
namespace binary { void register_type(); }
namespace integer { void register_type(); }
namespace symbol { void register_type(); }
namespace context { void register_type(); }
namespace word { void register_type(); }
namespace lit_word { void register_type(); }
namespace set_word { void register_type(); }
namespace get_word { void register_type(); }
namespace refinement { void register_type(); }
namespace char_ { void register_type(); }
namespace native { void register_type(); }
namespace action { void register_type(); }
namespace op { void register_type(); }
namespace path { void register_type(); }
namespace lit_path { void register_type(); }
namespace set_path { void register_type(); }
namespace get_path { void register_type(); }
namespace function { void register_type(); }
namespace routine { void register_type(); }
namespace paren { void register_type(); }
namespace issue { void register_type(); }
namespace url { void register_type(); }
namespace file { void register_type(); }
namespace object { void register_type(); }
namespace bitset { void register_type(); }
namespace triple { void register_type(); }
namespace float_ { void register_type(); }
namespace typeset { void register_type(); }
namespace error { void register_type(); }
namespace vector { void register_type(); }
namespace map { void register_type(); }
namespace hash { void register_type(); }
namespace pair { void register_type(); }
namespace percent { void register_type(); }
namespace tuple { void register_type(); }
namespace time { void register_type(); }
namespace tag { void register_type(); }
namespace email { void register_type(); }
namespace handle { void register_type(); }
namespace date { void register_type(); }
namespace port { void register_type(); }
namespace money { void register_type(); }
namespace ref { void register_type(); }
namespace point2d { void register_type(); }
namespace point3d { void register_type(); }
namespace image { void register_type(); }
}  // namespace vyx
