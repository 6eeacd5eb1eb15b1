#pragma once
// The request boot ROM's lock as the programmer last heard it, kept by its owner between operations.

namespace tavrel {

// Whether a boot ROM has answered that it is locked. While set, the next handshake asks how to
// unlock before sending anything; a handshake that ends with a usable ROM clears it. Its owner
// keeps it from one operation to the next.
struct RomLockState {
    bool locked = false;
};

}  // namespace tavrel
