// port!: an object with the fields spec, scheme, actor, awake, state, data
// and extra, made from a spec and a scheme of system/schemes. Every port
// action is forwarded to the function of the same name in the port's actor
// object; read and write are built from open, copy, insert and close.
#pragma once

namespace vyx::port {

// Until the library boots and brings them: makes the global `system` object
// when there is none, with system/standard/port, system/standard/url-parts,
// system/standard/scheme and an empty system/schemes block where absent.
void init_standard_objects();

void register_type();

}  // namespace vyx::port
