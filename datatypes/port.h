// port!: an object with the fields spec, scheme, actor, awake, state, data
// and extra, made from a spec and a scheme of system/schemes. Every port
// action is forwarded to the function of the same name in the port's actor
// object; read and write are built from open, copy, insert and close.
#pragma once

namespace vyx::port {

void register_type();

}  // namespace vyx::port
