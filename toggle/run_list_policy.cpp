#include "toggle/run_list_policy.h"

#include "registry/registry_key.h"

#include <string>
#include <tuple>

namespace {

const char kPoliciesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
const char kDisableRunValue[] = "DisableCurrentUserRun";

} // namespace

bool legacyRunListDisabled(REGSAM machineView, const UserHive& user)
{
    const std::tuple<HKEY, std::string, REGSAM> settings[] = {{HKEY_LOCAL_MACHINE, kPoliciesKey, machineView},
                                                              {HKEY_USERS, user.path(kPoliciesKey), 0}};
    for (const auto& [root, path, view] : settings) {
        RegistryKey policies;
        DWORD disabled = 0;
        if (policies.open(root, path, KEY_QUERY_VALUE | view) == ERROR_SUCCESS &&
            policies.readDword(kDisableRunValue, disabled)) {
            return disabled != 0;
        }
    }
    return false;
}
