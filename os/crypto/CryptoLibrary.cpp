#include "os/crypto/CryptoLibrary.h"

#include <openssl/crypto.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace os {

namespace {

// Uses under way on every thread (outer ones only), and whether the exit has stopped new ones.
std::atomic<int> gUses{0};
std::atomic<int> gStopped{0};
thread_local int tDepth = 0;
thread_local bool tExiting = false;

void leave() {
  if (gUses.fetch_sub(1) <= 2 && gStopped.load() != 0) gUses.notify_all();
}

void stopUsesAtExit() {
  tExiting = true;
  gStopped.store(1);
  // Not counting a use of the exiting thread's own, should it exit from inside one.
  const int own = tDepth > 0 ? 1 : 0;
  for (int n = gUses.load(); n != own; n = gUses.load()) gUses.wait(n);
}

// Whoever starts the library first settles whether it cleans itself up at exit. Started here as
// the program loads, it never does: its state stays until the process ends, under any worker
// still using it. A shared library's own start (a test's TLS server) comes earlier still; the
// exit handler registered here runs before the clean-up that one registered, and stops the uses.
[[gnu::constructor]] void startWithoutExitCleanup() {
  OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
  std::atexit(stopUsesAtExit);
}

}  // namespace

void prepareCryptoLibrary() {
  static std::once_flag once;
  // The first start settles what is loaded: later starts (the URL library's, asking for the
  // texts) do not load them any more.
  std::call_once(once, [] {
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT | OPENSSL_INIT_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS, nullptr);
  });
}

CryptoLibraryUse::CryptoLibraryUse() {
  if (tDepth++ > 0) return;
  gUses.fetch_add(1);
  if (gStopped.load() != 0 && !tExiting) {
    leave();
    // The process is ending: never return into a library about to be torn down.
    for (;;) gStopped.wait(1);
  }
  prepareCryptoLibrary();
}

CryptoLibraryUse::~CryptoLibraryUse() {
  if (--tDepth > 0) return;
  leave();
}

}  // namespace os
