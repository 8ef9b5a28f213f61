#include "build_config.h"

// Generated at configure time from the key file the publisher named.
#include "package_key.inc"

const char* BuiltInBaseUrl()
{
    return UPDATER_BASE_URL;
}

std::string_view BuiltInPackageKey()
{
    return kPackageKeyPem;
}
