// The one place the product's version lives. Resource scripts, the About box
// and the installer take it from here.
#pragma once

#define VELOTUNE_VER_MAJOR 1
#define VELOTUNE_VER_MINOR 0
#define VELOTUNE_VER_RELEASE 1
#define VELOTUNE_VER_BUILD 3

#define VELOTUNE_FILE_VERSION_STR "1.0.1.3"
#define VELOTUNE_PRODUCT_VERSION_STR "1.01.3"
#define VELOTUNE_COMPANY_STR "Ziruverora Co., Ltd."
#define VELOTUNE_COPYRIGHT_STR "Copyright (C) 2004 Ziruverora Co., Ltd."
