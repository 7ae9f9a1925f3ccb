#pragma once

#include <cstddef>

// Recovery from a heap corruption that glibc catches. glibc checks the heap as it frees: a
// double free of a block too large for the per-thread cache is found while the thread holds the
// main arena's lock, and glibc prints its message and calls abort() with the lock still held.
// The crash guard jumps out of that abort(); any allocation after it, by any thread, would wait
// for the lock for ever. glibc has no call that lets go of it, so HeapWatch finds the lock word
// in glibc's data while the heap is sound (before any module code runs) and releases it after
// such an abort.
//
// The lock word is found by the layout of glibc's arena record, which is internal to glibc: only
// on the glibc versions whose layout is known, and only where the candidate passes a check of
// what the arena must hold (its top chunk ends at the program break). Where it is not found,
// nothing is released.

// Finds the lock word, once. Call before any module code runs, while no one else frees into a
// broken heap. Cheap after the first call.
void LocateHeapLock();

// Watches one guarded call: whether glibc reported a broken heap (or another fatal check of its
// own, such as a buffer overflow found by a _chk function) while it ran, or the code stopped
// inside the allocator with its lock held.
class HeapWatch {
public:
    HeapWatch();

    // After the guarded call stopped by a crash or an abort (not an exit), before anything
    // allocates. The heap counts as broken when glibc reported a fatal error during the call
    // (after an abort: its message is copied into message(), nothing is allocated) or when the
    // main arena's lock is still held after a short wait for another thread that might hold it
    // legitimately; a lock still held is released.
    void AfterStop(bool aborted);

    // Whether the heap is not to be trusted: nothing that allocates or starts a process should
    // run on the crash's behalf.
    bool broken() const { return broken_; }
    // glibc's message, or empty.
    const char* message() const { return message_; }
    // Whether AfterStop found the lock held and released it.
    bool releasedLock() const { return releasedLock_; }

private:
    const void* before_ = nullptr;
    char message_[256] = {};
    bool broken_ = false;
    bool releasedLock_ = false;
};

// Whether the lock word was found (for tests).
bool HeapLockLocated();
