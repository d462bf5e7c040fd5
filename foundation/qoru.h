// The binding to the crypto-engine library, Qoru.DLL.
//
// The engine is a separate shared library loaded at run time. Initialize
// finds it through the string value "CryptoLibraryPath" of the key
// HKEY_LOCAL_MACHINE\software\quillon\quorrel enterprise server\dispatcher,
// a folder (at most 259 characters): the file "Qoru.DLL" in that
// folder is loaded, exactly under that name. Without the key or the value,
// the bare name "Qoru.DLL" goes to the loader's own search path. Once loaded,
// every export of the engine's table (qoru.cpp lists it) is looked up by
// name; an export the library lacks stays unbound and is not an error. The
// library is never unloaded.
//
// AES_CBC_Decode forwards to the export of that name. Its caller passes a
// key of keyLength bytes, the cipher's block length, an initialisation
// vector of blockLength bytes, a reader that gives up to `length` bytes of
// cipher text from readContext per call (0 at the end) and a writer that
// takes clear bytes into writeContext and is true when it took them all.
// The result is the engine's: 0 on success, any other value a failure code
// of the engine; the forwarder itself returns 2 when it cannot call the
// engine (not initialised, export missing), after logging at level 1.
//
// Thread safety: any thread may call Initialize and AES_CBC_Decode at any
// time. The library is loaded and its table bound at most once, by the
// first call of Initialize that succeeds; concurrent first calls wait for it.
// A failed load leaves nothing behind, so a later call tries again.
#pragma once

#include <cstdint>

class ByteBuffer;

namespace Qoru {

// The engine's call-back forms. The reader returns the number of bytes it
// stored in `buffer` (at most `length`); the writer is true when it took
// all `length` bytes.
using ReadInput = int (*)(void* buffer, int length, ByteBuffer* source);
using WriteOutput = bool (*)(const char* data, int length, ByteBuffer* target);
// The form of the engine's export "AES_CBC_Decode" (C linkage).
using AES_CBC_DecodeFunction = int (*)(const std::uint8_t* key, int keyLength, int blockLength,
                                       const std::uint8_t* iv, ReadInput readInput,
                                       ByteBuffer* readContext, WriteOutput writeOutput,
                                       ByteBuffer* writeContext);

// The forwarder's own failure code.
inline constexpr int kNotCallable = 2;

// True when the library is loaded (now or by an earlier call).
bool Initialize();

int AES_CBC_Decode(const std::uint8_t* key, int keyLength, int blockLength,
                   const std::uint8_t* iv, ReadInput readInput, ByteBuffer* readContext,
                   WriteOutput writeOutput, ByteBuffer* writeContext);

// Test support: forgets the binding and unloads the library, so that a test
// starts from a process that never loaded it. Only while no other thread
// uses the binding.
void ReleaseForTesting();

}  // namespace Qoru
