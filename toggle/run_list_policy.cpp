#include "toggle/run_list_policy.h"

#include "registry/registry_key.h"

#include <utility>

namespace {

const char kPoliciesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const char kDisableRunValue[] = "DisableCurrentUserRun";

} // namespace

bool legacyRunListDisabled(REGSAM machineView)
{
    const std::pair<HKEY, REGSAM> settings[] = {{HKEY_LOCAL_MACHINE, machineView}, {HKEY_CURRENT_USER, 0}};
    for (const auto& [root, view] : settings) {
        RegistryKey policies;
        DWORD disabled = 0;
        if (policies.open(root, kPoliciesKey, KEY_QUERY_VALUE | view) == ERROR_SUCCESS &&
            policies.readDword(kDisableRunValue, disabled)) {
            return disabled != 0;
        }
    }
    return false;
}
