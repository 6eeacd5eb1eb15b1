#pragma once
// A board's identity in a program run: a FlashSession around the route's own that puts the
// identity's bytes in place of the image's where a write covers its address, writes what no
// write covered before the session finishes, and reads the identity back. The flow's own
// verify compares the flash with the image file: where the flash holds the identity, the
// session answers the image's byte there, so a board that holds its identity verifies, and one
// that does not fails the flow's verify like any other wrong byte.
#include <functional>
#include <memory>
#include <string>

#include "operations/RunContext.h"
#include "production/Identity.h"

namespace tavrel::production {

// The session factory `open` with every session it opens patched with `identity`. `failed` is
// called with the reason when the identity could not be written or read back as it should.
FlashSessionFactory PatchIdentity(FlashSessionFactory open, Identity identity,
                                  std::function<void(const std::string& reason)> failed);

}  // namespace tavrel::production
