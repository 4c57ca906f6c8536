// email!: an e-mail address, user@host. A string! whose mold is its bare
// text and whose paths read and set the parts around the first "@":
// e/user, e/host (and e/2 as any string).
#pragma once

namespace kiv::email {

void register_types();

}  // namespace kiv::email
