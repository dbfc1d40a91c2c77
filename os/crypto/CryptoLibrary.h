#pragma once
// The crypto library's one-time start, for the platform layer's own users of it (digests,
// ciphers, random bytes, the TLS behind URL loading). Call before the first use; cheap after.
namespace os {

// Starts the library as the platform needs it: its configuration is read, but its tables of
// error texts (hundreds of kilobytes of pages touched and a hash table on the heap) are never
// loaded, since nothing here shows the library's own error texts.
void prepareCryptoLibrary();

// Held around each use of the library by this layer's digests, ciphers and random bytes (and
// starts it). Another library loaded with the program may have started it first, with its
// clean-up at exit; so late in the process's exit, before that clean-up, uses stop: the exit
// waits for those under way, and a use begun after that on any other thread waits for the
// process to end instead of running. The exiting thread itself goes on. Nested uses on one
// thread count as the outer one.
class CryptoLibraryUse {
 public:
  CryptoLibraryUse();
  ~CryptoLibraryUse();
  CryptoLibraryUse(const CryptoLibraryUse&) = delete;
  CryptoLibraryUse& operator=(const CryptoLibraryUse&) = delete;
};

}  // namespace os
