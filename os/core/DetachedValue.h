#pragma once
// Copies for keeping. A value made by a reader inside a ValueStorageScope lives in blocks shared
// with the rest of its tree, and any piece of it keeps its whole block (8 KB) alive, however small
// the piece. What is kept long after its decode (a notification's payload waiting its turn, a
// record of a call) is kept as one of these: the same value on storage of its own.
#include "os/core/Value.h"

namespace os {

// A deep copy equal to the value, with the same types and number codes, sharing no storage made
// in a scope, even when made inside one.
Value detached(const Value& value);
Dictionary detached(const Dictionary& dictionary);

// The value's own storage (not its members') was made in a scope's shared blocks: keeping the value
// keeps the whole block it stands in alive.
bool inSharedBlock(const Value& value);

}  // namespace os
