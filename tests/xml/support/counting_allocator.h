// The heap as the tests see it. Outside the sanitizer builds the program's
// malloc, calloc, realloc and free are replaced (counting_allocator.cpp) by
// ones that count the blocks that are live and can be told to fail; the
// sanitizer builds bring their own allocator, which cannot be replaced, and
// there the live heap is what the sanitizer reports, in bytes.
#ifndef XML_TEST_SUPPORT_COUNTING_ALLOCATOR_H
#define XML_TEST_SUPPORT_COUNTING_ALLOCATOR_H

#if defined(__SANITIZE_ADDRESS__)
#define ALLOCATOR_REPLACED 0
#else
#define ALLOCATOR_REPLACED 1
#endif

// What is allocated and not yet freed: blocks, or bytes in a sanitizer
// build. Only differences mean anything.
long live_heap();

// The live heap at construction; change() is what has been allocated since
// and not freed. A piece of code that frees all it allocates, and nothing
// that it did not, leaves change() at 0; one that frees a caller's block
// leaves it negative, one that leaks leaves it positive.
class heap_balance {
  public:
    heap_balance() : start_(live_heap()) {}
    long change() const { return live_heap() - start_; }

  private:
    long start_;
};

#if ALLOCATOR_REPLACED
// From now on, `succeeding` allocations succeed and the next one fails;
// with once, only that one, otherwise every later one too. Negative: none
// fails.
void fail_allocations_after(long succeeding, bool once);

// Allocations requested (failed ones included) since the last call.
long take_allocations_seen();
#endif

#endif
