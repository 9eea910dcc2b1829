#include "render/detail/KernelSet.h"

#include <cstdlib>
#include <new>

namespace pm::detail {

Scratch::Scratch(std::size_t bytes) {
    constexpr std::size_t kAlign = 64;
    m_data = std::aligned_alloc(kAlign, (bytes + kAlign - 1) / kAlign * kAlign + kAlign);
    if (m_data == nullptr) {
        throw std::bad_alloc();
    }
}

Scratch::~Scratch() {
    std::free(m_data);
}

void* Scratch::data() const {
    return m_data;
}

bool codePathAvailable(CodePath path) {
    switch (path) {
        case CodePath::Plain:
        case CodePath::Sse2:
            return true;
        case CodePath::Avx2:
#if defined(__x86_64__) || defined(__i386__)
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
    }
    return false;
}

const KernelSet& kernelsFor(CodePath path) {
    switch (path) {
        case CodePath::Avx2:
            if (codePathAvailable(CodePath::Avx2)) {
                return avx2::kernels();
            }
            return sse2::kernels();
        case CodePath::Sse2:
            return sse2::kernels();
        case CodePath::Plain:
            break;
    }
    return plain::kernels();
}

}  // namespace pm::detail
