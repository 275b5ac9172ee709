#include "platform/version_resource.hpp"

const VersionInfo& OwnVersionResource() {
    // No version resources here: the build system supplies the values.
    static const VersionInfo info = {
        VORLO_COMPANY,        VORLO_COPYRIGHT, VORLO_DESCRIPTION,   VORLO_AUTHOR,
        VORLO_INTERNAL_NAME,  VORLO_STATE,     VORLO_VERSION_MAJOR, VORLO_VERSION_MINOR,
        VORLO_VERSION_BUILD,  VORLO_VERSION_REVISION,
    };
    return info;
}
