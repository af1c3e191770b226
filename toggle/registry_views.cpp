#include "toggle/registry_views.h"

#include "toggle/library_function.h"

RegistryViews registryViews()
{
#ifdef _WIN64
    return {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
#else
    // Every 64-bit Windows has it; a Windows without it is 32-bit.
    const auto isWow64Process = kernel32Function<decltype(&::IsWow64Process)>("IsWow64Process");
    BOOL wow64 = FALSE;
    if (isWow64Process == nullptr || isWow64Process(GetCurrentProcess(), &wow64) == FALSE || wow64 == FALSE) {
        return {};
    }
    return {KEY_WOW64_64KEY, KEY_WOW64_64KEY};
#endif
}
