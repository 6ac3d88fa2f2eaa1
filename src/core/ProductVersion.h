// The product's version as users see it: in the uninstall entry and on the backdrop. The release
// script reads these three numbers for the archive's name and the package manifests, so this is
// the one place that gives it (the setup program's own file version is another, older number).
#pragma once

#define PRODUCT_VERSION_MAJOR 2
#define PRODUCT_VERSION_MINOR 6
#define PRODUCT_VERSION_BUILD 213

#define PRODUCT_VERSION_STRINGIZE2(n) #n
#define PRODUCT_VERSION_STRINGIZE(n) PRODUCT_VERSION_STRINGIZE2(n)
// "2.6.213"
#define PRODUCT_VERSION_TEXT                                                                                 \
    PRODUCT_VERSION_STRINGIZE(PRODUCT_VERSION_MAJOR)                                                         \
    "." PRODUCT_VERSION_STRINGIZE(PRODUCT_VERSION_MINOR) "." PRODUCT_VERSION_STRINGIZE(PRODUCT_VERSION_BUILD)
