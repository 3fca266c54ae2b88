#include "pack/bundle_check.h"

TBundleTarget NativeBundleTarget() { return btWindows; }
