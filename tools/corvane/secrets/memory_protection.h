// What the tool does so that secrets (private keys, passphrases, triple-DES
// keys) do not outlive their use in memory or leave the process by another
// way than the output asked for.
//
// What this guarantees, and no more:
//  - every buffer of the tool and of the library that held a key, a
//    passphrase or a decrypted message is wiped before it is freed;
//  - every block that OpenSSL's libcrypto allocates in this process is wiped
//    when it is freed (or moved by a reallocation), so that no copy of a
//    key's encoding or of a passphrase stays in freed libcrypto memory;
//  - while a command that may read a secret runs, the process writes no core
//    dump and cannot be attached to by a debugger of the same user
//    (ptrace and /proc/PID/mem need the process to be dumpable);
//  - every library is bound when the process starts (LD_BIND_NOW): a lazily
//    bound first call of a function goes through the dynamic linker, which
//    saves every vector register on the stack, and those may hold a key's
//    bytes that memcpy or a cipher has just had in hand;
//  - the standard streams' buffers (io.h) are wiped when the command is done.
// Not covered: memory that the kernel swaps out (nothing is locked in
// memory), an environment variable's value (it stays in the environment
// the process was started with), and the terminal's own buffers.
#ifndef CORVANE_TOOL_MEMORY_PROTECTION_H
#define CORVANE_TOOL_MEMORY_PROTECTION_H

namespace corvane::tool {

// Makes libcrypto allocate through wrappers that wipe each block on release.
// Must run before the first libcrypto call of the process; false when
// libcrypto has allocated already and refuses the change.
bool installWipingCryptoAllocator();

// Runs the tool again, with the same arguments, with LD_BIND_NOW set in its
// environment, unless it is set already. Returns only when that cannot be
// done (no /proc); the process then goes on as it is.
void bindEveryLibraryAtLoad(char** argv) noexcept;

// Turns off core dumps and debugger attachment for the rest of the process.
// A failure is a failure (exit status 1): a command about to read a secret
// does not go on without the protection it promises.
void protectSecretsFromDumps();

}  // namespace corvane::tool

#endif
