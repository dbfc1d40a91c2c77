#pragma once
// The crypto library's one-time start, for the platform layer's own users of it (digests,
// ciphers, random bytes, the TLS behind URL loading). Call before the first use; cheap after.
namespace os {

// Starts the library as the platform needs it: its configuration is read, but its tables of
// error texts (hundreds of kilobytes of pages touched and a hash table on the heap) are never
// loaded, since nothing here shows the library's own error texts.
void prepareCryptoLibrary();

}  // namespace os
