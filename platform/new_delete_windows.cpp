// The executable's own allocation operators. libstdc++'s nothrow new wraps the
// throwing one and drags in the exception machinery (and imports newer than
// Windows 2000); these stay on malloc and free. The tag std::nothrow is
// defined here too: libstdc++ keeps it beside the new handler, whose data
// and unwind tables would take two sections of the image of their own.
#include <cstdlib>
#include <new>

namespace std {
const nothrow_t nothrow{};
}  // namespace std

void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return std::malloc(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return std::malloc(bytes); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
