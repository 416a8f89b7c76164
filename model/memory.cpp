// Where zorvel-model's memory comes from. A large model's tables take
// hundreds of megabytes, and the first touch of every 4 KiB page of them
// costs a fault: on a large export the faults took a third of the time. So
// large blocks are asked for in huge pages, where the system gives them on
// request; small ones are malloc's as usual. Only the command itself does
// this: the fuzz targets and tests link the library without it.
#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace {

constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;
// Below this, the most a huge page could save is not worth rounding up for.
constexpr std::size_t LARGE_BLOCK = std::size_t{8} << 20;

void* allocate(std::size_t size) {
    if (size < LARGE_BLOCK) return std::malloc(size ? size : 1);
    const std::size_t rounded = (size + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    if (rounded < size) return nullptr;
    void* block = std::aligned_alloc(HUGE_PAGE, rounded);
    // Only a hint: where it is refused, the block has ordinary pages.
    if (block) ::madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}

}  // namespace

// Never inlined: a memory checker that puts its own operator new and delete
// in their place must find every call to them, or it would see blocks of
// its own freed by free().
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (void* block = allocate(size)) return block;
    throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) { return ::operator new(size); }
[[gnu::noinline]] void operator delete(void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete[](void* block) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }
[[gnu::noinline]] void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
// The forms that return null rather than throw (std::stable_sort's buffer
// asks through them) go through operator new above, so that their blocks
// come from where this operator delete returns them, and a memory checker
// that replaces operator new sees them too.
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ::operator new(size, std::nothrow);
}
[[gnu::noinline]] void operator delete(void* block, const std::nothrow_t&) noexcept { ::operator delete(block); }
[[gnu::noinline]] void operator delete[](void* block, const std::nothrow_t&) noexcept { ::operator delete(block); }
