#include <cstdint>
#include <cstring>

namespace {

int g_result = 0;
int g_calls = 0;
void* g_owner = nullptr;
bool g_rootWasNull = false;
char g_root[1024] = {};
std::uint32_t g_flags = 0;

}  // namespace

#define PM_FAKE_EXPORT extern "C" __attribute__((visibility("default")))

PM_FAKE_EXPORT int DirectXSetupA(void* owner, char* rootPath, std::uint32_t flags) {
    ++g_calls;
    g_owner = owner;
    g_flags = flags;
    g_rootWasNull = rootPath == nullptr;
    g_root[0] = '\0';
    if (rootPath != nullptr) {
        std::strncat(g_root, rootPath, sizeof(g_root) - 1);
        rootPath[0] = '#';  // the library may write to its root path; the caller's text must hold
    }
    return g_result;
}

PM_FAKE_EXPORT void fakeSetupSetResult(int result) {
    g_result = result;
}
PM_FAKE_EXPORT int fakeSetupCalls() {
    return g_calls;
}
PM_FAKE_EXPORT void* fakeSetupOwner() {
    return g_owner;
}
PM_FAKE_EXPORT const char* fakeSetupRoot() {
    return g_rootWasNull ? nullptr : g_root;
}
PM_FAKE_EXPORT std::uint32_t fakeSetupFlags() {
    return g_flags;
}
